// Inputs that are hostile by accident or on purpose: symbolic-link loops
// below the source directory, setting files nested as deep as a file can
// practically hold, and random command lines and setting files. Nothing may
// crash, hang or lose an output; every run ends with exit status 0, 1 or 2
// and at most one message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "testutil/fault.h"

namespace fault {
namespace {

void link(const std::string& target, const fs::path& at) { fs::create_symlink(target, at); }

TEST(Links, LoopsBelowTheSourceDirectoryAreNotFollowed) {
  Sandbox box;
  box.write("a.vsk", "a");
  box.write("sub/b.vsk", "b");
  link("..", box.path("sub/up"));    // back to the top
  link(".", box.path("sub/here"));   // to itself
  link("self", box.path("self"));    // a link to itself
  link("loop2", box.path("loop1"));  // two links in a ring
  link("loop1", box.path("loop2"));
  link("loop.vsk", box.path("loop.vsk"));         // a looping name with the extension
  link("a.vsk", box.path("link.vsk"));            // a linked file is taken
  link("nowhere.vsk", box.path("dangling.vsk"));  // a dangling link is not
  fs::create_directories(box.path("deep/er"));
  link("../../deep", box.path("deep/er/again"));
  box.write("deep/er/c.vsk", "c");

  Result r = box.run({});
  EXPECT_EQ(checkRun(r, box), "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(splitOutput(r.out).reports,
            (std::vector<std::string>{
                box.abs("a.vsk") + " => 00.txt", box.abs("deep/er/c.vsk") + " => 01.txt",
                box.abs("link.vsk") + " => 02.txt", box.abs("sub/b.vsk") + " => 03.txt"}));
  EXPECT_EQ(box.read("02.txt"), "a");
  EXPECT_FALSE(box.exists("04.txt"));

  // Named on the command line, a looping source is an error that names it;
  // so is a looping output directory.
  r = box.run({"loop.vsk"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(splitOutput(r.out).message,
            box.abs("loop.vsk") + ": Too many levels of symbolic links");
  r = box.run({"a.vsk", "-d:self"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(splitOutput(r.out).message, "self: The file that has same name already exists.");
  r = box.run({"a.vsk", "-d:sub/up"});  // a link to a directory is a fine output directory
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(checkRun(r, box), "");
}

// A document nested N levels by indentation holds about N * N / 2 blanks, so
// a million levels would take 500 GB; the million-level tree is a unit test
// of the node release. Here vesk reads the deepest document that is still
// quick to write: 20,000 levels, about 200 MB.
std::string nested(std::size_t depth, std::size_t shift) {
  std::string text;
  text.reserve((depth + 1) * (depth + 2 * shift + 8) / 2);
  for (std::size_t i = 0; i < depth; ++i) {
    text.append(shift + i, '\t');
    text += "n:\n";
  }
  text.append(shift + depth, '\t');
  text += "n: leaf\n";
  return text;
}

std::size_t deepLevels() {
  const char* set = std::getenv("VESK_FAULT_DEPTH");
  return set != nullptr ? std::strtoul(set, nullptr, 10) : 20000;
}

TEST(DeepSettings, DeeplyNestedSettingFiles) {
  const std::size_t depth = deepLevels();
  Sandbox box;
  box.write("a.vsk", "${x}");
  // Deep under a key vesk ignores: the run goes on.
  const std::string head = "---\nvesk:\n includes:\n  - a.vsk:5\n variables: x=1\nignored:\n";
  box.write("veskenv.yml", head + nested(depth, 1));
  Result r = box.run({});
  EXPECT_EQ(r.status, 0) << r.out.substr(0, 500);
  EXPECT_EQ(box.read("05.txt"), "1\r\n");

  // Deep under "variables": the first value that is not a scalar is refused.
  box.write("veskenv.yml", "---\nvesk:\n variables:\n" + nested(depth, 2));
  r = box.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(splitOutput(r.out).message,
            "Invalid Setting File - cannot use array or assoc for indicating a factor of n");

  // Deep, and broken on its last line: the whole tree is dropped.
  box.write("veskenv.yml", head + nested(depth, 1) + std::string(depth + 2, '\t') + "broken\n");
  r = box.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(splitOutput(r.out).message,
            "Invalid Setting File - bad YAML format\r\nParser: colon expected in line" +
                std::to_string(depth + 8) + " pos" + std::to_string(depth + 3));
  EXPECT_EQ(checkRun(r, box), "");
}

// ---- Random command lines and setting files --------------------------------

class RandomInput : public ::testing::Test {
 protected:
  void SetUp() override {
    random_.seed(testSeed());
    box_.write("a.vsk", "a ${v}\n");
    box_.write("sub/b.vsk", "${w} b\r\n${v}");
    box_.write("c.txt", "not a source");
    box_.write("big.vsk", largeSource(64 * 1024, 3));
    box_.write("other.yml", "---\nvesk:\n d: out\n includes:\n  - a.vsk:1\n");
  }

  std::size_t below(std::size_t n) { return random_() % n; }
  template <class T>
  const T& pick(const std::vector<T>& from) {
    return from[below(from.size())];
  }

  // Random bytes, never a NUL (arguments cannot hold one) and never '/', so
  // that no random name reaches out of the sandbox.
  std::string bytes(std::size_t max) {
    std::string text(below(max + 1), '\0');
    for (char& c : text) {
      do {
        c = static_cast<char>(below(256));
      } while (c == '\0' || c == '/');
    }
    return text;
  }

  std::string argument() {
    static const std::vector<std::string> files = {
        "a.vsk",  "sub/b.vsk", "big.vsk", "c.txt", "missing.vsk", "sub",
        "a.vsk:", "C:\\x.vsk", ":",       "",      "a:b:c",       "veskenv.yml"};
    static const std::vector<std::string> numbers = {
        "0",          "1",          "99",          "100", "-1", "-2",  "+5", "007",
        "2147483647", "2147483648", "-2147483649", "x",   "",   "1e3", " 1"};
    static const std::vector<std::string> options = {"-d:out",
                                                     "-d",
                                                     "-d:",
                                                     "-d:sub",
                                                     "-d:out/deeper/still",
                                                     "-d:a.vsk",
                                                     "-ext:txt",
                                                     "-ext:.vsk",
                                                     "-ext:",
                                                     "-ext:[",
                                                     "-ext:*",
                                                     "-ext:?sk",
                                                     "-doextract",
                                                     "-doextract:no",
                                                     "-doextract:yes",
                                                     "-doifmodified",
                                                     "-doifmodified:0",
                                                     "-sync",
                                                     "-sync:on",
                                                     "-setting",
                                                     "-setting:other.yml",
                                                     "-setting:missing.yml",
                                                     "-setting:sub",
                                                     "-variables:v=1,w=2",
                                                     "-variables:",
                                                     "-variables:,=,==",
                                                     "-version",
                                                     "-D:x",
                                                     "--d:x",
                                                     "-env:a.yml",
                                                     "-",
                                                     "-:",
                                                     "-:x",
                                                     "-Variables:v=1"};
    switch (below(6)) {
      case 0:
        return pick(files);
      case 1:
        return pick(files) + ":" + pick(numbers);
      case 2:
      case 3:
        return pick(options);
      case 4:
        return "-" + pick(std::vector<std::string>{"ext", "variables", "d", "doextract", "sync"}) +
               ":" + bytes(12);
      default:
        return bytes(16);
    }
  }

  // A setting file: random bytes, or a valid one with random edits.
  std::string settingFile() {
    static const std::string valid =
        "--- # kesoYAML:0.1\n"
        "vesk:\n"
        "  d: out\n"
        "  ext: vsk\n"
        "  doifmodified: yes\n"
        "  includes:\n"
        "    - a.vsk:0\n"
        "    - \"sub\\\\b.vsk\"\n"
        "    - big.vsk:7\n"
        "  variables:\n"
        "    v: 1\n"
        "    w: 'two'\n";
    static const std::vector<std::string> pieces = {
        ":",          "-",  " ",   "\t",      "\n",
        "\r\n",       "\r", "\v",  "\f",      "#",
        "\"",         "'",  "\\",  "vesk:",   "includes:",
        "variables:", "d:", "---", "- a.vsk", std::string(1, '\0'),
        "x",          "  ", ": ",  "\\n"};
    if (below(5) == 0) return bytes(200);
    std::string text = valid;
    std::size_t edits = 1 + below(6);
    for (std::size_t i = 0; i < edits && !text.empty(); ++i) {
      std::size_t at = below(text.size());
      switch (below(4)) {
        case 0:
          text.erase(at, 1 + below(8));
          break;
        case 1:
          text.insert(at, pick(pieces));
          break;
        case 2:
          text[at] = static_cast<char>(below(256));
          if (text[at] == '/') text[at] = '_';
          break;
        default:
          text.resize(at);
      }
    }
    return text;
  }

  void expectSound(const std::vector<std::string>& args) {
    Process vesk(box_, args);
    Result r = vesk.wait(std::chrono::seconds(20));
    ASSERT_FALSE(vesk.timedOut()) << "hangs";
    std::string problem = checkRun(r, box_);
    if (!problem.empty()) {
      std::string shown;
      for (const std::string& arg : args) shown += " [" + arg + "]";
      ADD_FAILURE() << "arguments" << shown << ": " << problem;
    }
    // Outputs go where the command line or the setting file sends them; clean
    // up so that later runs see a fresh state.
    for (const char* dir : {"out", "sub/out"}) {
      std::error_code ignored;
      fs::remove_all(box_.path(dir), ignored);
    }
  }

  std::mt19937 random_;
  Sandbox box_;
};

TEST_F(RandomInput, CommandLines) {
  for (int run = 0; run < 250 && !HasFatalFailure(); ++run) {
    std::vector<std::string> args;
    std::size_t count = 1 + below(6);
    for (std::size_t i = 0; i < count; ++i) args.push_back(argument());
    expectSound(args);
  }
}

TEST_F(RandomInput, SettingFiles) {
  for (int run = 0; run < 250 && !HasFatalFailure(); ++run) {
    std::string text = settingFile();
    box_.write("veskenv.yml", text);
    box_.write("random.yml", text);
    switch (below(4)) {
      case 0:
        expectSound({});
        break;
      case 1:
        expectSound({"-setting:random.yml"});
        break;
      case 2:
        expectSound({"a.vsk", "-setting"});
        break;
      default:
        expectSound({"-d:out"});
    }
  }
}

}  // namespace
}  // namespace fault
