// A fresh temporary directory per test, removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace vesk {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vesk-fileutil-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::filesystem::permissions(dir_, std::filesystem::perms::all);
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
      if (!entry.is_symlink())
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all);
    }
    std::filesystem::remove_all(dir_);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void writeFile(const std::string& name, const std::string& content = "") const {
    std::filesystem::create_directories(std::filesystem::path(path(name)).parent_path());
    std::ofstream(path(name), std::ios::binary) << content;
  }

  std::string dir_;
};

}  // namespace vesk
