#include "driver/run_settings.h"

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

std::unique_ptr<VESK> jobFromCommandLine(const std::vector<std::string>& args) {
  VESK_TRACE("run on command line\n");
  VESKEnv env = parseCommandLine(args);
  mergeSettingFile(env);
  return VESK::fromEnv(std::move(env));
}

std::unique_ptr<VESK> jobFromSettingFile(const std::string& file) {
  std::optional<VESKEnv> loaded = loadSetting(file);
  if (!loaded) return std::make_unique<VESK>();
  return VESK::fromEnv(std::move(*loaded));
}

}  // namespace

std::unique_ptr<VESK> jobForArguments(const std::vector<std::string>& args) {
  if (args.size() <= 1) {
    VESK_TRACE("try to load %.*s\n", std::string_view(kDefaultSettingFile));
    return jobFromSettingFile(kDefaultSettingFile);
  }
  VESK_TRACE("parse command line\n");
  return jobFromCommandLine(args);
}

}  // namespace vesk
