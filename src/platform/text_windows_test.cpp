#include <gtest/gtest.h>

#include <string>

#include "base/exception.h"
#include "platform/windows_util.h"

namespace vesk::platform {
namespace {

std::string exactly(UINT codePage, const std::wstring& text) {
  return multiByteFrom(codePage, text.data(), checkedSize(text.size()), true);
}

std::string loosely(UINT codePage, const std::wstring& text) {
  return multiByteFrom(codePage, text.data(), checkedSize(text.size()), false);
}

TEST(CodePages, ACharacterTheCodePageHoldsIsItsOwnByteOrBytes) {
  struct Case {
    UINT codePage;
    std::wstring text;
    std::string bytes;
  } cases[] = {
      {1252, L"", ""},
      {1252, L"a.vsk", "a.vsk"},
      {1252, L"\u00e9", "\xe9"},
      {1252, L"\u20ac", "\x80"},
      {932, L"\u3042.vsk", "\x82\xa0.vsk"},
      {CP_UTF8, L"\u00e9\u3042", "\xc3\xa9\xe3\x81\x82"},
      {CP_UTF8, L"\U0001F600", "\xf0\x9f\x98\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(exactly(c.codePage, c.text), c.bytes) << c.codePage << " " << c.bytes;
    EXPECT_EQ(loosely(c.codePage, c.text), c.bytes) << c.codePage << " " << c.bytes;
  }
}

// Best fit would respell a character the code page lacks as another one (é
// as e, ¥ as \) and so name another file: an exact conversion fails, a loose
// one gives the default character.
TEST(CodePages, ACharacterTheCodePageLacksIsNeverRespelt) {
  struct Case {
    UINT codePage;
    std::wstring text;
  } cases[] = {
      {1252, L"\u3042"}, {1252, L"\u0101"},     {932, L"\u00e9"},
      {932, L"\u00a5"},  {1252, L"\U0001F600"},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(exactly(c.codePage, c.text), Exception) << c.codePage;
    std::string loose = loosely(c.codePage, c.text);
    EXPECT_EQ(loose.find_first_not_of('?'), std::string::npos) << c.codePage << " " << loose;
  }
}

TEST(CodePages, UnpairedSurrogatesAndInvalidUtf8AreErrors) {
  EXPECT_THROW(utf8FromWide(std::wstring(1, wchar_t(0xd800))), Exception);
  EXPECT_THROW(utf8FromWide(std::wstring(L"a") + wchar_t(0xdc00)), Exception);
  EXPECT_THROW(wideName("\xff"), Exception);
  EXPECT_THROW(wideName("a\xc3"), Exception);
  EXPECT_EQ(wideName("\xc3\xa9\xe3\x81\x82"), L"\u00e9\u3042");
  EXPECT_EQ(utf8FromWide(L"\u00e9\u3042"), "\xc3\xa9\xe3\x81\x82");
  EXPECT_EQ(wideName(""), L"");
}

TEST(CodePages, AnsiNamesAreExactAndAsciiPassesUnchanged) {
  EXPECT_EQ(ansiName("sub\\a.vsk"), "sub\\a.vsk");
  EXPECT_EQ(fromMultiByte("a.vsk"), "a.vsk");
  EXPECT_EQ(toMultiByte("a.vsk"), "a.vsk");
  if (::GetACP() != CP_UTF8) {
    // No ANSI code page but UTF-8 holds a character beyond the BMP.
    EXPECT_THROW(ansiName("\xf0\x9f\x98\x80.vsk"), Exception);
    EXPECT_EQ(toMultiByte("\xf0\x9f\x98\x80").find_first_not_of('?'), std::string::npos);
  }
  // Whatever the code page holds comes back as it went.
  const std::string here = toMultiByte("\xc3\xa9");
  if (here != "?") {
    EXPECT_EQ(fromMultiByte(here), "\xc3\xa9");
  }
}

TEST(CodePages, SizesAndAsciiTests) {
  EXPECT_TRUE(isAscii(""));
  EXPECT_TRUE(isAscii("a.vsk\x7f"));
  EXPECT_FALSE(isAscii("\x80"));
  EXPECT_EQ(checkedSize(0x7fffffff), 0x7fffffff);
  EXPECT_THROW(checkedSize(std::size_t{0x80000000}), Exception);
}

TEST(SystemMessages, AreOneLineWithTheNameInFront) {
  EXPECT_TRUE(useWideApi());
  const std::string text = systemMessage(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  EXPECT_NE(text.back(), ' ');
  EXPECT_EQ(systemMessage(0x2000ffff), "system error " + std::to_string(0x2000ffff));
  try {
    fail("a.vsk", ERROR_FILE_NOT_FOUND);
    ADD_FAILURE() << "fail() returned";
  } catch (const FileException& e) {
    EXPECT_EQ(std::string(e.what()), "a.vsk: " + text);
  }
  try {
    failConversion(ERROR_NO_UNICODE_TRANSLATION);
    ADD_FAILURE() << "failConversion() returned";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Couldn't convert string: " + systemMessage(ERROR_NO_UNICODE_TRANSLATION));
  }
}

}  // namespace
}  // namespace vesk::platform
