// The operating-system layer. Every call into the operating system lives in
// src/platform/ behind this one header, in one file per concern and platform
// (file_posix.cpp, file_windows.cpp, ...); the rest of vesk is portable C++
// and is written against these operations only.
//
// All names and texts crossing this interface are UTF-8. The Windows
// implementation converts them to UTF-16 or to the ANSI code page as its API
// needs; the POSIX implementation passes bytes through.
//
// Failures raise FileException ("<name>: <system's text for the error>")
// unless an operation says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// ---- Text at the edges ----------------------------------------------------

// System (ANSI) code page to UTF-8, and back. Identity on POSIX. A failed
// conversion raises Exception("Couldn't convert string: <system's text>").
std::string fromMultiByte(std::string_view text);
std::string toMultiByte(std::string_view text);

// ---- Process --------------------------------------------------------------

// The process arguments in UTF-8, entry 0 being the program path as it was
// started. On POSIX they are argv's bytes. On Windows they come from the wide
// command line, and a program path with a directory part is the program's
// own file name; without the wide services they come in the ANSI code page,
// and an argument that it cannot hold exactly is refused. A failed
// conversion raises Exception("Couldn't convert string: <system's text>").
std::vector<std::string> arguments(int argc, char** argv);

std::string currentDir();
void changeDir(const std::string& dir);

// Prepares the process, first thing at start:
// - A standard stream (descriptor 0, 1 or 2) closed by whoever started vesk
//   is opened on the null device, so that no file vesk opens can take its
//   number and receive what vesk prints. A standard output closed at start
//   counts as lost: writeStandardOutput() fails.
// - A write past the file-size limit fails ("File too large") instead of
//   killing the process.
// - The handlers that make an interrupt cost no litter are installed: on
//   SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT and SIGXCPU (Windows: Ctrl-C,
//   Ctrl-Break, closing the console) the temporary file of the output being
//   written is removed, outputs already in place stay, and the process then
//   ends as the interrupt would have ended it (on POSIX: killed by the same
//   signal, status 128+N). The handlers allocate nothing.
// Calling it again changes nothing.
void prepareProcess();

// Writes to the process's standard output, unbuffered and in binary (no
// line-end translation). A failure raises FileException("standard output",
// reason).
void writeStandardOutput(std::string_view text);
// The same for standard error; failures are ignored (there is nowhere left
// to report them).
void writeStandardError(std::string_view text) noexcept;

// ---- Names in the file system ---------------------------------------------

// Unknown: something stands in the way of looking (a directory that may not
// be searched, a link loop), so the name may or may not exist.
enum class FileKind { Missing, File, Directory, Other, Unknown };

// What a name refers to, following symbolic links. Never raises.
FileKind fileKind(const std::string& path);

// Whether two names lead to the same file; false when either cannot be
// looked at.
bool sameFile(const std::string& first, const std::string& second);

// Creates one directory level.
void createDirectory(const std::string& path);

struct DirEntry {
  enum class Kind { File, Directory, Other };
  std::string name;  // the entry's own name, without the directory
  Kind kind;         // a link to a directory (a reparse point on Windows) is
                     // Other, so a walk does not descend into it; a link to a
                     // file is File
};

// The entries of one directory, without "." and "..", in the order the
// platform lists them. A directory that cannot be opened or read raises
// FileException naming it; one that does not exist (any more: removed while
// a walk goes on) yields nothing.
std::vector<DirEntry> listDirectory(const std::string& dir);

// ---- File times -----------------------------------------------------------

// Milliseconds since 1970-01-01 00:00:00 UTC.
using Millis = std::int64_t;

struct FileStamps {
  Millis creation = 0;  // on POSIX the birth time where the file system keeps
                        // one, else the last status change
  Millis lastAccess = 0;
  Millis lastWrite = 0;
};

FileStamps readFileStamps(const std::string& path);

// ---- File contents --------------------------------------------------------

// A file open for sequential reading; closed when destroyed.
class InputFile {
 public:
  explicit InputFile(const std::string& path);  // a directory is refused too
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Reads up to size bytes; returns 0 only at the end of the file.
  std::size_t read(char* buffer, std::size_t size);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::intptr_t handle_;
};

// Reads a whole file into memory.
std::string readWholeFile(const std::string& path);

// An output written in full or not at all. The bytes go to a temporary file
// beside the target; commit() renames it over the target in one step. If the
// object is destroyed without commit(), the temporary file is removed and the
// target is exactly as it was.
//
// On POSIX the temporary may be read and written by its owner only until it
// gets the output's permission bits (never set-ID bits: those of a replaced
// output, or what the umask leaves of 0666) and, where the process may give
// them, the replaced output's owner and group, just before the rename. A
// symbolic link is followed by the system, so its rules on links apply, and
// the file it leads to is replaced. A target that is no regular file (a
// device, a FIFO, or a link to one) is never replaced: it is opened and
// written into, and gets no stamps.
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  void write(const char* data, std::size_t size);
  void write(std::string_view text) { write(text.data(), text.size()); }
  // The file gets these stamps at commit(), before it takes the target's
  // place, so that a failure to stamp it leaves the target as it was.
  void setStamps(const FileStamps& stamps);
  // Flushes, closes and renames over the target. Failures name the target.
  void commit();

  const std::string& target() const { return target_; }
  // The temporary's name; empty while the temporary has none (an unnamed
  // temporary file on Linux).
  const std::string& temporary() const { return temporary_; }

 private:
  std::string target_;
  std::string replaced_;  // the file the commit replaces: a link's target on
                          // POSIX, resolved once so that the commit replaces
                          // the file that was checked
  std::string temporary_;
  std::intptr_t handle_;
  bool committed_ = false;
  bool stamped_ = false;
  bool inPlace_ = false;          // a device or FIFO, written into
  std::intptr_t directory_ = -1;  // POSIX: the output's directory, held open
                                  // to name the temporary relative to it
  FileStamps stamps_;
  // POSIX: the permission bits and owner the output gets at commit; an owner
  // of -1 is the process's own.
  unsigned mode_ = 0;
  std::int64_t owner_ = -1;
  std::int64_t group_ = -1;
};

// Copies the source over the target with the same all-or-nothing guarantee as
// AtomicFile: the bytes unchanged, plus the source's permission bits (Windows:
// attributes) and last-write time. With `syncStamps`, the copy gets all the
// source's stamps as they are once it has been read, before it takes the
// target's place.
void copyFileAtomic(const std::string& source, const std::string& target, bool syncStamps = false);

// A document written the way a save should be. A missing target, or a
// regular file with one link that this process may replace, is replaced as
// AtomicFile does (keeping its permission bits). Anything else that exists
// under the name (a FIFO, a device, a file with several links or another
// owner, the target of a symbolic link, also a dangling one) is opened and
// written into in place, as cp writes into an existing file.
class SaveFile {
 public:
  explicit SaveFile(const std::string& target);
  ~SaveFile();
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  void write(const char* data, std::size_t size);
  void write(std::string_view text) { write(text.data(), text.size()); }
  // Completes the save; failures name the target.
  void commit();

 private:
  std::string target_;
  std::unique_ptr<AtomicFile> atomic_;  // when the target is replaced
  std::intptr_t handle_ = -1;           // when it is written into
};

}  // namespace vesk::platform
