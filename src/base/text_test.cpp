#include "base/text.h"

#include <string>

#include <gtest/gtest.h>

namespace vesk {
namespace {

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
  EXPECT_EQ(failure("0x10"), "conversion: Error: conversion 0x10");
  EXPECT_EQ(failure("\xD9\xA1"), "conversion: Error: conversion \xD9\xA1");  // ARABIC-INDIC ONE
  EXPECT_EQ(failure(std::string("1\0", 2)),
            "conversion: Error: conversion " + std::string("1\0", 2));
  EXPECT_EQ(failure("2147483648"), "overflow: Error: overflow 2147483648");
  EXPECT_EQ(failure("-2147483649"), "overflow: Error: overflow -2147483649");
  EXPECT_EQ(failure("184467440737095516160"), "overflow: Error: overflow 184467440737095516160");
  // A bad character anywhere is a format error, even after too many digits.
  EXPECT_EQ(failure("99999999999x"), "conversion: Error: conversion 99999999999x");
}

}  // namespace
}  // namespace vesk
