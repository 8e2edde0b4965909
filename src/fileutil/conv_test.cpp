#include "fileutil/conv.h"

#include <string>

#include <gtest/gtest.h>

#include "support/exception.h"

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

TEST(ParseInt32, AcceptsStrictDecimal) {
  EXPECT_EQ(parseInt32("007"), 7);
  EXPECT_EQ(parseInt32("+5"), 5);
  EXPECT_EQ(parseInt32("-0"), 0);
  EXPECT_EQ(parseInt32("2147483647"), 2147483647);
  EXPECT_EQ(parseInt32("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(parseInt32("00000000000000000000042"), 42);
}

std::string failure(std::string_view text) {
  try {
    parseInt32(text);
  } catch (const ConversionException& e) {
    return "conversion: " + e.message();
  } catch (const OverflowException& e) {
    return "overflow: " + e.message();
  }
  return "no failure";
}

TEST(ParseInt32, FailuresSayWhichAndQuoteTheText) {
  EXPECT_EQ(failure(""), "conversion: Error: conversion ");
  EXPECT_EQ(failure("-"), "conversion: Error: conversion -");
  EXPECT_EQ(failure(" 1"), "conversion: Error: conversion  1");
  EXPECT_EQ(failure("1 "), "conversion: Error: conversion 1 ");
  EXPECT_EQ(failure("1.0"), "conversion: Error: conversion 1.0");
  EXPECT_EQ(failure("+-1"), "conversion: Error: conversion +-1");
  EXPECT_EQ(failure("2147483648"), "overflow: Error: overflow 2147483648");
  EXPECT_EQ(failure("-2147483649"), "overflow: Error: overflow -2147483649");
  EXPECT_EQ(failure("184467440737095516160"), "overflow: Error: overflow 184467440737095516160");
  // A bad character anywhere is a format error, even after too many digits.
  EXPECT_EQ(failure("99999999999x"), "conversion: Error: conversion 99999999999x");
}

}  // namespace
}  // namespace vesk
