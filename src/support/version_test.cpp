#include "support/version.h"

#include "support/version_number.h"

#include <gtest/gtest.h>

#include <regex>

namespace vesk {
namespace {

TEST(Version, TwoLinesNamingTheToolChain) {
  const std::string& text = versionText();
  std::string version = std::regex_replace(kProgramVersion, std::regex("\\."), "\\.");
  EXPECT_TRUE(std::regex_match(
      text,
      std::regex("VESK VERSION: " + version +
                 "\r\nCOMPILED BY: [A-Za-z]+ Ver\\. [0-9]+\\.[0-9]+ C\\+\\+ 20[0-9]{2}\\.[0-9]+")))
      << text;
  EXPECT_EQ(VersionException().message(), text);
}

}  // namespace
}  // namespace vesk
