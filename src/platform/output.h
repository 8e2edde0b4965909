// The steps of an output's commit, implemented once per platform
// (output_posix.cpp, output_windows.cpp) and put in order once, in
// commit.cpp. Private to src/platform/; docs/commit.md describes them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace vesk::platform {

// Where an output's bytes come from, which decides the permissions it gets.
struct Origin {
  bool copy = false;  // a copy of a source file, whose permissions count
  unsigned mode = 0;  // the source's permission bits (POSIX) or attributes
};

// The stamps a temporary gets before it takes the output's place.
struct Times {
  bool set = false;     // none at all otherwise
  bool access = false;  // the last access too, else only the last write
  FileStamps stamps;
};

// How often a name that changes under the commit is examined again before
// the commit gives up ("Resource temporarily unavailable").
inline constexpr int kExaminations = 8;

// One output's place in the file system and the temporary that will take
// it. Made by examining the target's name once: its directory is opened and
// held, and the file the name leads to is examined through it. Destroying
// the site removes a temporary not yet renamed, on every path.
class OutputSite {
 public:
  explicit OutputSite(const std::string& target);
  ~OutputSite();
  OutputSite(const OutputSite&) = delete;
  OutputSite& operator=(const OutputSite&) = delete;

  const std::string& target() const;
  // A device or FIFO: written into, never replaced.
  bool inPlace() const;
  // Opens the examined device or FIFO for writing, checked to be that file.
  void openInPlace();
  // A new, empty temporary beside the file examined, its owner's alone.
  void createTemporary();
  // The temporary's name; empty while it has none.
  const std::string& temporaryName() const;

  void write(const char* data, std::size_t size);
  // Copies the rest of `source` in; a failure names whichever file is at
  // fault.
  void copyFrom(InputFile& source);

  // Gives the temporary the output's permissions (POSIX: bits and ACL), then
  // the times, then the owner and group.
  void giveMetadata(const Origin& origin, const Times& times);
  // Names the temporary, if it has no name yet, and closes it, checking the
  // close.
  void seal();
  // Whether the name still leads to the file examined. When it does not,
  // the name is examined anew and the temporary opened again (a sealed one),
  // so that its metadata can be given anew.
  bool stillExamined();
  // Renames the sealed temporary over the file examined.
  void rename();
  // Closes a device or FIFO written into, checking the close.
  void closeInPlace();

  // The source's origin and stamps, as reading it has left them.
  static Origin originOf(InputFile& source);
  static FileStamps stampsOf(InputFile& source);

  struct State;  // per platform, and its steps' helpers work on it

 private:
  std::unique_ptr<State> state_;
};

}  // namespace vesk::platform
