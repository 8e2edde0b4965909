// The conversion job: typed settings built from the raw run settings, and the
// run that numbers every source file and writes it as 00.txt .. 99.txt.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/ordered_map.h"
#include "config/env.h"

namespace vesk {

inline constexpr std::int32_t kAutoNumber = -1;
inline constexpr std::int32_t kMaxFileCount = 100;
// The setting file a run reads when none is named, beside the program.
inline constexpr const char* kDefaultSettingFile = "veskenv.yml";

// Source files: absolute path -> number (-1: automatic), in the given order.
using IncludeTable = OrderedMap<std::int32_t>;

// The job's settings, copied by value. Defaults as set by VESK::reset.
struct JobSettings {
  IncludeTable includes;
  bool doExtract = false;
  std::string sourceDir = ".";
  std::string outputDir = ".";
  std::string ext = "vsk";
  bool doIfModified = false;
  std::string settingFile = kDefaultSettingFile;
  bool sync = false;
  VariableTable variables;

  // includes[absPath(file)] = number, adding or replacing in place.
  void addFile(std::string_view file, std::int32_t number);
};

class VESK {
 public:
  VESK();
  virtual ~VESK() = default;
  VESK(const VESK&) = default;
  VESK& operator=(const VESK&) = default;

  // The settings become the defaults.
  virtual void reset();
  // Runs the job; its settings stay as they are.
  virtual void execute();

  const JobSettings& settings() const { return settings_; }

  // Builds a job from run settings; tests the option names (VersionException,
  // UsageException) and the number texts. The variable table is moved out
  // of env, so a caller done with it passes it as an rvalue. Which settings
  // a run uses is the driver's choice.
  static std::unique_ptr<VESK> fromEnv(VESKEnv env);

 private:
  JobSettings settings_;
};

// "00.txt" .. "99.txt": the number with at least two digits.
std::string outputName(std::int32_t number);

// The lowest number whose flag is clear, or -1.
std::int32_t findFreeNumber(const std::array<bool, kMaxFileCount>& used);

// The steps of a run, exposed for tests.
void runJob(const JobSettings& settings);
// Adds the sources found below settings.sourceDir to includes.
void extractSources(const JobSettings& settings, IncludeTable& includes);

}  // namespace vesk
