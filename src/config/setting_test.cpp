#include "config/setting.h"

#include <gtest/gtest.h>

#include "base/test_dir.h"
#include "base/test_ordered_map.h"
#include "fileutil/path.h"
#include "support/output.h"

namespace vesk {
namespace {

class SettingTest : public TempDirTest {
 protected:
  std::optional<VESKEnv> load(const std::string& document) {
    writeFile("veskenv.yml", document);
    return loadSetting(path("veskenv.yml"));
  }
  std::string failure(const std::string& document) {
    try {
      load(document);
    } catch (const SettingException& e) {
      return e.message();
    }
    return "no SettingException";
  }
};

std::string value(const StringTable& table, const std::string& key) {
  const std::string* found = table.find(key);
  return found ? *found : "<absent>";
}

TEST_F(SettingTest, ReadsEveryKeyOfTheSchema) {
  std::optional<VESKEnv> env = load(
      "--- # kesoYAML:0.1\r\nvesk:\r\n\td: out\r\n\text: .scr\r\n\tdoextract: yes\r\n"
      "\tdoifmodified: 'on'\r\n\tincludes:\r\n\t\t- define.vsk:0\r\n\t\t- scenario.vsk\r\n"
      "\t\t- define.vsk:4\r\n\tvariables:\r\n\t\tmaxkaisoupage: 30\r\n\t\ttitle: \"a b\"\r\n"
      "\tsync: yes\r\n\tsetting: other.yml\r\n\tversion: x\r\nother: ignored\r\n");
  ASSERT_TRUE(env);
  EXPECT_EQ(value(env->options(), "d"), "out");
  EXPECT_EQ(value(env->options(), "ext"), ".scr");
  EXPECT_EQ(value(env->options(), "doextract"), "yes");
  EXPECT_EQ(value(env->options(), "doifmodified"), "on");
  // Keys outside the schema change nothing.
  EXPECT_EQ(env->options().size(), 4u);
  EXPECT_EQ(value(env->variables(), "maxkaisoupage"), "30");
  EXPECT_EQ(value(env->variables(), "title"), "a b");
  // A file listed twice keeps its place and the number read last.
  ASSERT_EQ(env->includes().size(), 2u);
  EXPECT_EQ(env->includes().begin()->first, absPath("define.vsk"));
  EXPECT_EQ(env->includes().begin()->second, "4");
  EXPECT_EQ(value(env->includes(), absPath("scenario.vsk")), "");
}

TEST_F(SettingTest, VariablesAsAScalarOrAMapping) {
  std::optional<VESKEnv> scalar = load("---\nvesk:\n  variables: a=1,b=2\n");
  std::optional<VESKEnv> mapping = load("---\nvesk:\n  variables:\n    a: 1\n    b: 2\n");
  ASSERT_TRUE(scalar && mapping);
  EXPECT_EQ(scalar->variables(), mapping->variables());
  EXPECT_EQ(scalar->variables().size(), 2u);
  EXPECT_TRUE(scalar->options().empty());
}

TEST_F(SettingTest, MissingFileYieldsNothingAndEmptySettingsAreEmpty) {
  OutputCapture capture;
  EXPECT_FALSE(loadSetting(path("absent.yml")));
  std::optional<VESKEnv> empty = load("---\nvesk:\n  # only ignored keys\n  sync: yes\nother: 1\n");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->includes().empty() && empty->options().empty() && empty->variables().empty());
  EXPECT_EQ(capture.text(), "");
}

TEST_F(SettingTest, WrongShapesAreReportedWithTheirMessages) {
  const std::string prefix = "Invalid Setting File - ";
  EXPECT_EQ(failure("---\nother: 1\n"),
            prefix + "bad YAML format\r\nYamlAssoc: key not exists: vesk");
  EXPECT_EQ(failure("---\n- a\n"), prefix + "bad YAML format\r\nYamlArray: not associative array");
  EXPECT_EQ(failure("vesk:\n"),
            prefix + "bad YAML format\r\nParser: garbage before document header in line1 pos1");
  EXPECT_EQ(failure("---\nvesk:\n  includes: a.vsk\n"), prefix + "can use only array for includes");
  EXPECT_EQ(failure("---\nvesk:\n  includes:\n    d: 1\n"),
            prefix + "can use only array for includes");
  EXPECT_EQ(failure("---\nvesk:\n  includes:\n    -\n      - a.vsk\n"),
            prefix + "cannot use array for indicating a factor of includes");
  for (std::string key : {"d", "ext", "doextract", "doifmodified"}) {
    EXPECT_EQ(failure("---\nvesk:\n  " + key + ":\n    - x\n"),
              prefix + "cannot use array or assoc for indicating a factor of " + key);
  }
  EXPECT_EQ(failure("---\nvesk:\n  variables:\n    - a=1\n"),
            prefix + "cannot use array or assoc for indicating a factor of variables");
  EXPECT_EQ(failure("---\nvesk:\n  variables:\n    a:\n      b: 1\n"),
            prefix + "cannot use array or assoc for indicating a factor of a");
}

// The system would take such a name only up to its NUL byte: another file.
TEST_F(SettingTest, FileNamesWithANulByteAreRefused) {
  using namespace std::string_literals;
  EXPECT_EQ(failure("---\nvesk:\n  includes:\n    - a.vs\0k\n"s),
            "Invalid Setting File - cannot use a NUL byte in a file name of includes");
  EXPECT_EQ(failure("---\nvesk:\n  includes:\n    - \"a\0b.vsk:1\"\n"s),
            "Invalid Setting File - cannot use a NUL byte in a file name of includes");
  EXPECT_EQ(failure("---\nvesk:\n  d: o\0ut\n"s),
            "Invalid Setting File - cannot use a NUL byte in a file name of d");
  // Elsewhere a NUL byte is only text.
  std::optional<VESKEnv> env = load("---\nvesk:\n  variables:\n    v: a\0b\n"s);
  ASSERT_TRUE(env);
  EXPECT_EQ(value(env->variables(), "v"), "a\0b"s);
}

TEST_F(SettingTest, ChoicesForShapesThatWouldOtherwiseRunWithDefaults) {
  const std::string prefix = "Invalid Setting File - ";
  // A document with a header and nothing else lacks the key like an empty one.
  EXPECT_EQ(failure("--- # kesoYAML:0.1"),
            prefix + "bad YAML format\r\nYamlAssoc: key not exists: vesk");
  EXPECT_EQ(failure("---\nvesk: out\n"), prefix + "can use only assoc for vesk");
  EXPECT_EQ(failure("---\nvesk:\n  - a.vsk\n"), prefix + "can use only assoc for vesk");
  EXPECT_EQ(failure("---\nvesk:\n  includes:\n    - a:b:c\n"),
            prefix + "not a file name with an optional number in includes: a:b:c");
  EXPECT_EQ(failure("---\nvesk:\n  includes:\n    - :5\n"),
            prefix + "not a file name with an optional number in includes: :5");
}

TEST_F(SettingTest, FilesThatCannotBeReadFailWithTheFileLayersMessage) {
  std::filesystem::create_directory(path("dir.yml"));
  EXPECT_THROW(loadSetting(path("dir.yml")), FileException);
  EXPECT_NE(failure(std::string("\x00\x01\xff binary", 10)), "no SettingException");
  EXPECT_NE(failure(""), "no SettingException");
}

}  // namespace
}  // namespace vesk
