// Where a job's run settings come from: the command line, a setting file, or
// both (the command line winning).
#include <utility>

#include "config/cmdline.h"
#include "config/setting.h"
#include "convert/vesk.h"
#include "platform/platform.h"
#include "support/trace.h"

namespace vesk {
namespace {

bool exists(const std::string& file) {
  return platform::fileKind(file) != platform::FileKind::Missing;
}

void mergeFile(VESKEnv& env, const std::string& file) {
  std::optional<VESKEnv> loaded = loadSetting(file);
  if (loaded) env.merge(std::move(*loaded), false);
}

// A setting file joins the command line when "-setting" asks for one, or when
// no source file is named and the default file exists.
void mergeSettingFile(VESKEnv& env) {
  if (const std::string* named = env.options().find("setting")) {
    std::string file = named->empty() ? kDefaultSettingFile : *named;
    VESK_TRACE("find -setting. load %.*s\n", file);
    // The user asked for this file by name: its absence is an error.
    if (!exists(file)) throw SettingException(file + ": The setting file does not exist.");
    mergeFile(env, file);
  } else if (env.includes().empty() && exists(kDefaultSettingFile)) {
    VESK_TRACE("no includes and find default setting. load %.*s\n",
               std::string_view(kDefaultSettingFile));
    mergeFile(env, kDefaultSettingFile);
  }
}

}  // namespace

std::unique_ptr<VESK> VESK::fromCommandLine(const std::vector<std::string>& args) {
  VESK_TRACE("run on command line\n");
  VESKEnv env = parseCommandLine(args);
  mergeSettingFile(env);
  return fromEnv(std::move(env));
}

std::unique_ptr<VESK> VESK::fromSettingFile(const std::string& file) {
  std::optional<VESKEnv> loaded = loadSetting(file);
  if (!loaded) return std::make_unique<VESK>();
  return fromEnv(std::move(*loaded));
}

}  // namespace vesk
