#include "fileutil/conv.h"

#include <string>

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(ToBool, WordsAndNumbers) {
  for (const char* on :
       {"Yes", "ON", "Enable", "ok", "TRUE", "1", "+5", "-3", "007", "2147483647", "-2147483648"}) {
    EXPECT_TRUE(toBool(on)) << on;
  }
  for (const char* off : {"no", "off", "0", "-0", "", "-", "+", " yes", "yes ", "1 ", "1.0", "0x1",
                          "2147483648", "-2147483649", "99999999999999999999", "yess", "o"}) {
    EXPECT_FALSE(toBool(off)) << off;
  }
}

TEST(ToBool, NonAsciiLetters) {
  EXPECT_TRUE(toBool("o\xE2\x84\xAA"));  // o + KELVIN SIGN lowers to "ok"
  EXPECT_TRUE(toBool("O\xE2\x84\xAA"));
  EXPECT_FALSE(toBool("\xE2\x84\xAAo"));  // "ko"
  // Full-width letters and other non-ASCII text never become ASCII words.
  EXPECT_FALSE(toBool("\xEF\xBC\xAF\xEF\xBC\xAB"));  // FULLWIDTH O K
  EXPECT_FALSE(toBool("o\xC4\xB0"));                 // o + capital dotted I
  // Malformed UTF-8 around or in place of the sign matches nothing.
  EXPECT_FALSE(toBool("o\xE2\x84"));
  EXPECT_FALSE(toBool("o\xAA"));
  EXPECT_FALSE(toBool("o\xC1\xAB"));  // overlong "k"
  EXPECT_FALSE(toBool(std::string("ok\0", 3)));
}

}  // namespace
}  // namespace vesk
