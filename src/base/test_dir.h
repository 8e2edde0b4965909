// The unit tests' one fixture for work on files: a fresh temporary directory
// per test, removed afterwards with everything in it. Test code only.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    // A name nobody else is using: create_directory reports one that exists.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      fs::path dir = fs::temp_directory_path() / ("vesk-test-" + std::to_string(random()));
      if (fs::create_directory(dir)) {
        dir_ = dir.string();
        return;
      }
    }
    FAIL() << "no temporary directory";
  }

  void TearDown() override {
    namespace fs = std::filesystem;
    if (dir_.empty()) return;
    // Tests take permissions away; give them back so that all can go.
    fs::permissions(dir_, fs::perms::all);
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_all);
    }
    fs::remove_all(dir_);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes the bytes to the file, making its directories; returns its path.
  std::string writeFile(const std::string& name, std::string_view content = {}) const {
    std::filesystem::create_directories(std::filesystem::path(path(name)).parent_path());
    std::ofstream(path(name), std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
    return path(name);
  }

  using Names = std::vector<std::string>;

  // Every name in the directory, sorted, so that a file left behind (such as
  // an output's temporary) shows up.
  Names names() const {
    Names result;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      result.push_back(entry.path().filename().string());
    }
    std::sort(result.begin(), result.end());
    return result;
  }

  std::string readFile(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // False where file permissions do not bind this process (as for root), so
  // that a test of an unreadable or unwritable file has nothing to test.
  bool permissionsBind() const {
    std::string probe = writeFile(".permission-probe", "x");
    std::filesystem::permissions(probe, std::filesystem::perms::none);
    bool bind = !std::ifstream(probe).is_open();
    std::filesystem::remove(probe);
    return bind;
  }

  std::string dir_;
};

}  // namespace vesk
