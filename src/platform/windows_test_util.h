// What the Windows unit tests of the platform layer share. Test code only.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/windows_util.h"

namespace vesk::platform {

// A fresh directory under the system's temporary one, removed with all it
// holds when the object goes. Names are UTF-8, as vesk's are.
class TempDir {
 public:
  TempDir() {
    static unsigned counter = 0;
    path_ =
        std::filesystem::temp_directory_path() /
        ("vesk-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The UTF-8 name of `name` inside the directory.
  std::string path(const std::string& name = "") const {
    std::filesystem::path p = name.empty() ? path_ : path_ / utf8Path(name);
    std::u8string text = p.u8string();
    return std::string(text.begin(), text.end());
  }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / utf8Path(name), std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path_ / utf8Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // `name` inside the directory, for std::filesystem.
  std::filesystem::path fsPath(const std::string& name) const { return path_ / utf8Path(name); }
  bool exists(const std::string& name) const {
    return std::filesystem::exists(path_ / utf8Path(name));
  }

 private:
  static std::filesystem::path utf8Path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
  }
  std::filesystem::path path_;
};

}  // namespace vesk::platform
