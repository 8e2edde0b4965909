#include "driver/program.h"

#include <new>

#include "base/exception.h"
#include "config/usage.h"
#include "convert/vesk.h"
#include "driver/run_settings.h"
#include "fileutil/path.h"
#include "platform/platform.h"
#include "support/output.h"
#include "support/trace.h"
#include "support/version.h"

namespace vesk {
namespace {

// Relative names (setting file, sources, output directory) are resolved in
// the directory that holds the program, wherever it was started from.
void moveToProgramDirectory(const std::string& programPath) {
  std::string dir = directoryPart(programPath);
  VESK_TRACE("change dirctory to %.*s\n", dir);
  if (dir.empty()) return;
  // A working directory that has been removed has no name; the program's
  // directory still has one, so move there all the same.
  std::string here;
  try {
    here = platform::currentDir();
  } catch (const FileException&) {
  }
  if (dir != here) platform::changeDir(dir);
}

void run(int argc, char** argv) {
  // First of all, and inside the handler: before any file is opened, closed
  // standard streams are filled, and an interrupt at any later moment
  // removes the temporary file of the output being written.
  platform::prepareProcess();
  // Inside the handler: an argument that cannot be converted is a failure.
  std::vector<std::string> args = platform::arguments(argc, argv);
  moveToProgramDirectory(args.empty() ? std::string() : args.front());
  std::unique_ptr<VESK> job = jobForArguments(args);
  VESK_TRACE("execute\n");
  job->execute();
}

int report(const char* message, int status) {
  print("%s\n", std::string_view(message));
  return status;
}

}  // namespace

int runMain(int argc, char** argv) {
  int status = kExitSuccess;
  try {
    run(argc, argv);
  } catch (const VersionException& e) {
    status = report(e.what(), kExitSuccess);
  } catch (const UsageException& e) {
    status = report(e.what(), kExitUsage);
  } catch (const std::bad_alloc&) {
    status = report("Out of memory", kExitFailure);
  } catch (const std::exception& e) {
    status = report(e.what(), kExitFailure);
  } catch (...) {
    status = report("Unknown failure", kExitFailure);
  }
  // A report that never reached its reader is a failure too; standard error
  // is the only place left to say so.
  if (!flushOutput()) {
    platform::writeStandardError("vesk: write error: " + outputFailure() + "\n");
    status = kExitFailure;
  }
  return status;
}

}  // namespace vesk
