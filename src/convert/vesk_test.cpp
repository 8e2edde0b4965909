#include "convert/vesk.h"

#include <gtest/gtest.h>

#include "config/usage.h"
#include "fileutil/path.h"
#include "support/version.h"

namespace vesk {
namespace {

JobSettings settingsFrom(const VESKEnv& env) { return VESK::fromEnv(env)->settings(); }

TEST(JobBuild, DefaultsWithoutSettings) {
  JobSettings s = settingsFrom(VESKEnv());
  EXPECT_TRUE(s.includes.empty());
  EXPECT_FALSE(s.doExtract || s.doIfModified || s.sync);
  EXPECT_EQ(s.sourceDir, ".");
  EXPECT_EQ(s.outputDir, ".");
  EXPECT_EQ(s.ext, "vsk");
  EXPECT_EQ(s.settingFile, "veskenv.yml");
}

TEST(JobBuild, OptionsBecomeTypedSettings) {
  VESKEnv env;
  env.setOption("d", "");
  env.setOption("ext", "..x");
  env.setOption("doextract", "");
  env.setOption("doifmodified", "no");
  env.setOption("sync", "Enable");
  env.setOption("setting", "other.yml");
  JobSettings s = settingsFrom(env);
  EXPECT_EQ(s.outputDir, "");
  EXPECT_EQ(s.ext, ".x");
  EXPECT_TRUE(s.doExtract);
  EXPECT_FALSE(s.doIfModified);
  EXPECT_TRUE(s.sync);
  EXPECT_EQ(s.settingFile, "other.yml");

  VESKEnv dotted, bare;
  dotted.setOption("ext", ".abc");
  bare.setOption("ext", "abc");
  EXPECT_EQ(settingsFrom(dotted).ext, settingsFrom(bare).ext);
}

TEST(JobBuild, NumberTexts) {
  VESKEnv env;
  env.addInclude("a.vsk", "");
  env.addInclude("b.vsk", "+7");
  env.addInclude("c.vsk", "-1");
  env.addInclude("d.vsk", "0042");
  JobSettings s = settingsFrom(env);
  EXPECT_EQ(*s.includes.find(absPath("a.vsk")), kAutoNumber);
  EXPECT_EQ(*s.includes.find(absPath("b.vsk")), 7);
  EXPECT_EQ(*s.includes.find(absPath("c.vsk")), kAutoNumber);
  EXPECT_EQ(*s.includes.find(absPath("d.vsk")), 42);

  for (std::string text : {" 1", "1 ", "1.0", "0x1", "-"}) {
    VESKEnv bad;
    bad.addInclude("a.vsk", text);
    EXPECT_THROW(VESK::fromEnv(bad), ConversionException) << text;
  }
  VESKEnv huge;
  huge.addInclude("a.vsk", "-2147483649");
  EXPECT_THROW(VESK::fromEnv(huge), OverflowException);
  VESKEnv below;
  below.addInclude("a.vsk", "-2");
  EXPECT_THROW(VESK::fromEnv(below), Exception);
}

TEST(JobBuild, OptionNamesAreTestedInTheirOrder) {
  VESKEnv version;
  version.setOption("version", "");
  EXPECT_THROW(VESK::fromEnv(version), VersionException);

  // The first name met decides.
  VESKEnv versionFirst;
  versionFirst.setOption("version", "");
  versionFirst.setOption("env", "a.yml");
  EXPECT_THROW(VESK::fromEnv(versionFirst), VersionException);
  VESKEnv unknownFirst;
  unknownFirst.setOption("D", "x");
  unknownFirst.setOption("version", "");
  EXPECT_THROW(VESK::fromEnv(unknownFirst), UsageException);
}

TEST(JobBuild, VariablesComeFromTheVariableTable) {
  VESKEnv env;
  env.setVariable("a", "1");
  JobSettings s = settingsFrom(env);
  ASSERT_NE(s.variables.find("a"), nullptr);
  EXPECT_EQ(*s.variables.find("a"), "1");
}

TEST(Numbers, OutputNamesAndFreeNumbers) {
  EXPECT_EQ(outputName(0), "00.txt");
  EXPECT_EQ(outputName(7), "07.txt");
  EXPECT_EQ(outputName(42), "42.txt");
  std::array<bool, kMaxFileCount> used{};
  EXPECT_EQ(findFreeNumber(used), 0);
  used[0] = used[1] = used[3] = true;
  EXPECT_EQ(findFreeNumber(used), 2);
  used.fill(true);
  EXPECT_EQ(findFreeNumber(used), -1);
}

}  // namespace
}  // namespace vesk
