#include "convert/vesk.h"

#include "base/text.h"
#include "config/usage.h"
#include "fileutil/conv.h"
#include "fileutil/path.h"
#include "support/trace.h"
#include "support/version.h"

namespace vesk {
namespace {

// Flag options given without a value mean "on"; otherwise the word decides.
bool flagValue(const std::string& value) { return value.empty() || toBool(value); }

std::int32_t numberFromText(const std::string& file, const std::string& text) {
  if (text.empty()) return kAutoNumber;
  std::int32_t number = parseInt32(text);
  // Below -1 a number is neither automatic nor an output; refuse it while the
  // job is built, so nothing is converted with it.
  if (number < kAutoNumber) throw Exception("Under Min File Number: " + file + ":" + text);
  return number;
}

void applyOption(JobSettings& s, const std::string& name, const std::string& value) {
  if (name == "d") {
    s.outputDir = value;
  } else if (name == "ext") {
    s.ext = value.starts_with('.') ? value.substr(1) : value;
  } else if (name == "sync") {
    s.sync = flagValue(value);
  } else if (name == "setting") {
    s.settingFile = value;
  } else if (name == "doextract") {
    s.doExtract = flagValue(value);
  } else if (name == "variables") {
    s.variables = parseVariables(value);
  } else if (name == "doifmodified") {
    s.doIfModified = flagValue(value);
  } else if (name == "version") {
    throw VersionException();
  } else {
    throw UsageException();
  }
}

}  // namespace

void JobSettings::addFile(std::string_view file, std::int32_t number) {
  includes.set(absPath(file), number);
}

VESK::VESK() { reset(); }

void VESK::reset() { settings_ = JobSettings{}; }

void VESK::execute() { runJob(settings_); }

std::unique_ptr<VESK> VESK::fromEnv(VESKEnv env) {
  auto job = std::make_unique<VESK>();
  JobSettings s = job->settings_;
  s.variables = env.takeVariables();
  for (const auto& [file, text] : env.includes()) {
    s.addFile(file, numberFromText(file, text));
    VESK_TRACE("env.file %.*s\n", file);
  }
  for (const auto& [name, value] : env.options()) applyOption(s, name, value);
  job->settings_ = std::move(s);
  return job;
}

std::string outputName(std::int32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
  return digits + ".txt";
}

std::int32_t findFreeNumber(const std::array<bool, kMaxFileCount>& used) {
  for (std::int32_t n = 0; n < kMaxFileCount; ++n) {
    if (!used[static_cast<std::size_t>(n)]) return n;
  }
  return -1;
}

}  // namespace vesk
