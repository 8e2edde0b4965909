#include "config/cmdline.h"

#include <string_view>

#include "config/include.h"
#include "config/option.h"
#include "config/usage.h"
#include "platform/platform.h"
#include "support/trace.h"

namespace vesk {
namespace {

// "-name" or "-name:value"; the value is everything after the first colon.
void readOption(VESKEnv& env, std::string_view arg) {
  if (arg == "-" || arg.starts_with("-:")) throw UsageException();
  std::size_t colon = arg.find(':');
  if (colon == std::string_view::npos) {
    env.setOption(arg.substr(1), {});
    return;
  }
  std::string_view name = arg.substr(1, colon - 1);
  std::string_view raw = arg.substr(colon + 1);
  env.setOption(name, std::string(raw));
}

void readFile(VESKEnv& env, std::string_view arg) {
  std::optional<FileSpec> entry = parseInclude(arg);
  if (!entry) throw UsageException();
  VESK_TRACE("set %.*s\n", platform::toMultiByte(entry->file));
  env.addInclude(entry->file, entry->number);
}

}  // namespace

VESKEnv parseCommandLine(const std::vector<std::string>& args) {
  if (args.size() < 2) throw UsageException();
  VESKEnv env;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (isOption(arg)) {
      readOption(env, arg);
    } else {
      readFile(env, arg);
    }
  }
  return env;
}

}  // namespace vesk
