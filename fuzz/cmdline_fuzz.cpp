// Feeds arbitrary command lines to the command-line parser and builds the job
// from what it records. The input is the argument list, arguments separated by
// NUL bytes (a real argument cannot hold one). Every command line must be
// parsed or refused with one of vesk's own exceptions; a crash, a sanitizer
// report, a failed run-time check or a foreign exception is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config/cmdline.h"
#include "config/include.h"
#include "config/option.h"
#include "config/usage.h"
#include "convert/vesk.h"
#include "support/output.h"
#include "support/version.h"

namespace {

std::vector<std::string> splitArguments(std::string_view data) {
  std::vector<std::string> args = {"vesk"};
  while (true) {
    std::size_t nul = data.find('\0');
    args.emplace_back(data.substr(0, nul));
    if (nul == std::string_view::npos) break;
    data.remove_prefix(nul + 1);
  }
  return args;
}

void require(bool condition) {
  if (!condition) std::abort();
}

// A file entry written back as "name:number" must read back the same. (The
// colon stays even before an empty number: "C:\" alone would read as the
// file "C" with the number "\".)
void checkFileSpec(std::string_view text) {
  std::optional<vesk::FileSpec> spec = vesk::parseInclude(text);
  if (!spec) return;
  require(!spec->file.empty());
  std::optional<vesk::FileSpec> reread = vesk::parseInclude(spec->file + ":" + spec->number);
  require(reread && reread->file == spec->file && reread->number == spec->number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args =
      splitArguments(std::string_view(reinterpret_cast<const char*>(data), size));
  std::size_t fileArguments = 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!vesk::isOption(args[i])) {
      ++fileArguments;
      checkFileSpec(args[i]);
    }
  }

  vesk::OutputCapture capture;  // the trace build's lines
  vesk::VESKEnv env;
  try {
    env = vesk::parseCommandLine(args);
  } catch (const vesk::UsageException&) {
    return 0;
  }
  require(env.includes().size() <= fileArguments);
  for (const auto& entry : env.includes())
    require(!entry.first.empty() && entry.first.front() == '/');
  require(!env.options().contains("variables"));

  try {
    std::unique_ptr<vesk::VESK> job = vesk::VESK::fromEnv(env);
    for (const auto& entry : job->settings().includes) require(entry.second >= vesk::kAutoNumber);
  } catch (const vesk::CheckException&) {
    std::abort();
  } catch (const vesk::Exception&) {
    // Version request, unknown option, bad number: the run's one message.
  }
  return 0;
}
