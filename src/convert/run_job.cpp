// Running a job: output directory, extraction, numbering, conversion and the
// report line of every source file.
#include "convert/variable.h"
#include "convert/vesk.h"
#include "fileutil/dir.h"
#include "fileutil/filetime.h"
#include "fileutil/path.h"
#include "platform/platform.h"
#include "support/output.h"
#include "support/trace.h"

namespace vesk {
namespace {

using UsedNumbers = std::array<bool, kMaxFileCount>;

bool isOutputNumber(std::int32_t number) { return number >= 0 && number < kMaxFileCount; }

// A report line is written out at once, so that an interrupted or blocked
// run shows which outputs are already in place.
void report(std::string_view format, const std::string& source, const std::string& output) {
  print(format, platform::toMultiByte(source), platform::toMultiByte(baseName(output)));
  flushOutput();
}

void processFile(const JobSettings& s, const std::string& file, std::int32_t number,
                 UsedNumbers& used) {
  if (platform::fileKind(file) == platform::FileKind::Missing) {
    throw FileException(file, "The source file does not exist.");
  }
  if (number == kAutoNumber) {
    number = findFreeNumber(used);
    if (number < 0) throw Exception("No Number To Use");
  }
  if (number >= kMaxFileCount) throw Exception("Over Max File Number");
  VESK_CHECK(isOutputNumber(number));
  checkedAt(used, static_cast<std::size_t>(number)) = true;

  std::string output = s.outputDir + kNativePaths.separator + outputName(number);
  // Only a file can be an up-to-date output; a directory of that name is
  // no output at all, and writing over it fails below.
  if (s.doIfModified && platform::fileKind(output) == platform::FileKind::File &&
      compareLastWrite(file, output) <= 0) {
    report("%.*s is not newer than %.*s\n", file, output);
    return;
  }
  // With -sync the new output carries its source's times before it takes
  // the output's place, so a failure to stamp it leaves the old output as it
  // was rather than a new one with the wrong times. A source that is its own
  // output keeps the new times of its rewrite: its old ones would hide the
  // change from every tool that goes by times.
  convertFile(file, output, s.variables, s.sync && !platform::sameEntry(file, output));
  report("%.*s => %.*s\n", file, output);
}

void convertAll(const JobSettings& s, const IncludeTable& includes) {
  if (includes.empty()) return;
  // Explicit numbers are reserved before any file is processed, so automatic
  // numbers never take one of them.
  UsedNumbers used{};
  for (const auto& entry : includes) {
    if (isOutputNumber(entry.second)) used[static_cast<std::size_t>(entry.second)] = true;
  }
  for (const auto& [file, number] : includes) processFile(s, file, number, used);
}

}  // namespace

void runJob(const JobSettings& settings) {
  ensureDir(settings.outputDir);
  if (settings.includes.empty() || settings.doExtract) {
    // The files found join a copy of the list; the settings themselves, with
    // a variable table that may be large, are not copied.
    IncludeTable includes = settings.includes;
    extractSources(settings, includes);
    convertAll(settings, includes);
  } else {
    convertAll(settings, settings.includes);
  }
}

void extractSources(const JobSettings& s, IncludeTable& includes) {
  VESK_TRACE("extract from %.*s %.*s\n", s.sourceDir, s.ext);
  std::vector<std::string> listed;
  listed.reserve(includes.size());
  for (const auto& entry : includes) listed.push_back(entry.first);
  for (const std::string& name : listFiles(s.sourceDir, s.ext, listed)) {
    // A file listed with an explicit number keeps it. The name is made
    // absolute for the test and again for the new entry, not once for both:
    // each asks for the working directory, and a run reads it twice for each
    // file found, which is the sequence of calls a system-call trace shows
    // and the fault-injection tests fail one by one.
    if (includes.contains(absPath(name))) continue;
    includes.set(absPath(name), kAutoNumber);
    VESK_TRACE("extract %.*s\n", name);
  }
}

}  // namespace vesk
