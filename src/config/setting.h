// The setting file: a YAML-subset document whose root key "vesk" holds the
// run settings, read into a VESKEnv.
#pragma once

#include <optional>
#include <string>

#include "base/exception.h"
#include "config/env.h"

namespace vesk {

class SettingException : public Exception {
 public:
  explicit SettingException(const std::string& detail)
      : Exception("Invalid Setting File - " + detail) {}
};

// The settings of the file, or nothing when no file or directory of that name
// exists. A file of the wrong shape raises SettingException; one that cannot
// be opened raises the file layer's error.
std::optional<VESKEnv> loadSetting(const std::string& file);

}  // namespace vesk
