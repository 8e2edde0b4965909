// A test-only Windows program that runs the platform operations which the
// program itself never reaches on the command line, for the end-to-end tests
// under Wine:
//
//   probe save <target> <text>   a document save (SaveFile)
//   probe list <dir>             a directory listing, one "<kind> <name>" a line
//
// It prints "ok" or the failure's message and exits 0 or 1.
#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/platform.h"

namespace {

using vesk::platform::DirEntry;

char kindLetter(DirEntry::Kind kind) {
  switch (kind) {
    case DirEntry::Kind::File:
      return 'f';
    case DirEntry::Kind::Directory:
      return 'd';
    default:
      return 'o';
  }
}

void run(const std::vector<std::string>& args) {
  if (args.size() == 4 && args[1] == "save") {
    vesk::platform::SaveFile file(args[2]);
    file.write(args[3]);
    file.commit();
  } else if (args.size() == 3 && args[1] == "list") {
    for (const DirEntry& entry : vesk::platform::listDirectory(args[2])) {
      vesk::platform::writeStandardOutput(std::string(1, kindLetter(entry.kind)) + " " +
                                          entry.name + "\n");
    }
  } else {
    throw vesk::Exception("usage: probe save <target> <text> | probe list <dir>");
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    run(vesk::platform::arguments(argc, argv));
    vesk::platform::writeStandardOutput("ok\n");
    return 0;
  } catch (const std::exception& e) {
    vesk::platform::writeStandardError(std::string(e.what()) + "\n");
    return 1;
  }
}
