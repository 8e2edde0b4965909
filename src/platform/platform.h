// The operating-system layer. Every call into the operating system lives in
// src/platform/ behind this one header. Each concern has one file per
// platform under the same name (directory_, file_, interrupt_, output_,
// process_, save_ and text_ with _posix.cpp or _windows.cpp; the Windows
// services' two spellings in services_windows.cpp), and the portable parts
// sit beside them: the order of an output's commit (commit.cpp), ACL bytes
// (acl.cpp), temporary names and whole-file reads.
//
// All names and texts crossing this interface are UTF-8. The Windows
// implementation converts them to UTF-16 or to the ANSI code page as its API
// needs; the POSIX implementation passes bytes through.
//
// Failures raise FileException ("<name>: <system's text for the error>")
// unless an operation says otherwise. Threads: AtomicFile::write is called
// from the conversion's writer thread while the main thread reads the
// source; nothing else is used from two threads. On Windows an operation
// interrupted by a console event may never return: the handler removes the
// temporaries and ends the process while it waits.
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

// The working directory as an absolute name, and a move to another one;
// a failure names the directory.
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

// Whether writing an output named `output` replaces the file named `source`
// itself: both names, with their links followed, end at one entry of one
// directory. Two hard links of one file are two entries: replacing one
// leaves the other as it was. False when either cannot be looked at.
bool sameEntry(const std::string& source, const std::string& output);

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

// The stamps of the file a name leads to, links followed; a failure names
// it.
FileStamps readFileStamps(const std::string& path);

// ---- File contents --------------------------------------------------------

class OutputSite;

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
  friend class OutputSite;  // copies from the open file
  struct State;             // the open file, per platform
  std::string path_;
  std::unique_ptr<State> state_;
};

// Reads a whole file into memory.
std::string readWholeFile(const std::string& path);

// An output written in full or not at all. The bytes go to a temporary file
// beside the file the target names; commit() renames it over that file in
// one step. If the object is destroyed without commit(), the temporary file
// is removed and the target is exactly as it was. docs/commit.md describes
// the steps and what each promises when others change the tree meanwhile.
//
// The target's directory is opened once, when the object is made, and every
// later step works from that descriptor: the file that the commit replaces
// is the one examined then, and a name that has changed meanwhile is
// examined again or refused. A symbolic link is followed by the system
// alone, so its rules on links in sticky directories hold; the file it leads
// to is replaced. A target that is no regular file (a device, a FIFO, or a
// link to one) is never replaced: it is opened, checked to be the file
// examined, and written into, and gets no stamps.
//
// On POSIX the temporary is its owner's alone until its last byte is
// written. A replaced output keeps its owner and group where the process
// may give them, its permission bits (never set-ID bits) and its access
// ACL; a new one gets what creating a file in its directory gives (the
// umask, or the directory's default ACL).
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

  const std::string& target() const;
  // The temporary's name; empty while the temporary has none (an unnamed
  // temporary file on Linux).
  const std::string& temporary() const;

 private:
  struct State;  // the commit in progress, per platform
  std::unique_ptr<State> state_;
};

// Copies the source over the target with the same all-or-nothing guarantee as
// AtomicFile: the bytes unchanged and the source's last-write time, to the
// millisecond. A new output gets the source's permission bits, as far as
// creating a file in its directory allows (POSIX); a replaced one keeps its
// owner, group and ACL and gets the bits that both the source and the old
// output grant, so that the copy opens it to nobody whom either denied.
// Windows: the source's attributes. With `syncStamps`, the copy gets all the
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
  struct State;  // the file written into, per platform
  std::string target_;
  std::unique_ptr<AtomicFile> atomic_;  // when the target is replaced
  std::unique_ptr<State> state_;        // when it is written into
};

}  // namespace vesk::platform
