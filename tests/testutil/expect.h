// What the program under test shows for names of the host file system: the
// one place where the end-to-end tests know about the program's platform.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// True when the program under test is a Windows program (run under a runner).
bool windowsProgram();

// The separator the program uses in the names it builds.
char separator();

// The absolute name under which the program sees a host path.
std::string nativeAbsolute(const std::filesystem::path& hostPath);

// The relative name "a/b" in the program's own separators.
std::string nativeRelative(const std::string& relative);

// The trace line the program prints when it makes the relative name absolute
// and finds that it does not start with a parent reference.
std::string parentRefMiss(const std::string& relative);

// ---- Starting the program ----------------------------------------------------

// The words that start the program with the given argv[0], after the runner's
// own words (withRunner) or alone. A Windows program started by a bare name is
// started as a console starts it, through cmd, because the runner would hand
// it its full path instead; its arguments then pass cmd's parser, so such
// runs keep them plain.
std::vector<std::string> startWords(const std::string& argv0, bool withRunner);

// The locale a run gets unless a case picks one. A Windows program runs
// under a UTF-8 locale, so that the runner hands it non-ASCII names intact,
// in the ANSI code page 1252; a POSIX program keeps the host's locale.
std::string defaultLocale();

// The most bytes of arguments one run can be given. Windows caps the whole
// command line at 32767 UTF-16 units; Linux caps one argument at 128 KiB and
// takes several of them.
std::size_t argumentBudget();

// ---- Text in the system code page ---------------------------------------------

// Text from one encoding to another with iconv (names as iconv knows them);
// throws when a byte sequence does not convert.
std::string convertText(std::string_view text, const char* to, const char* from);

// The UTF-8 text as the program's system code page holds it under the locale
// (932 for ja_JP, 1252 otherwise): what toMultiByte prints and what a
// setting file's "includes" hold. Unchanged for a POSIX program, whose code
// page is the bytes themselves.
std::string inCodePage(std::string_view utf8, const std::string& locale);

// A name made of bytes that are not plain ASCII, as the host writes it: on
// POSIX any bytes at all (these are not even UTF-8); for Windows characters of
// code page 1252, since only those reach the program through its arguments.
std::string oddName();
// A text made the same way, for a variable's value on the command line. The
// program writes it to an output as the host passed it: the bytes on POSIX,
// and on Windows the UTF-8 it makes from its code page's bytes again.
std::string oddValue();

// ---- What a copy keeps ----------------------------------------------------------

// Whether an output's permissions are those its source should hand on: all
// permission bits on POSIX; on Windows only the read-only attribute, which
// the runner shows as the owner's write bit.
bool copiedPermissions(std::filesystem::perms output, std::filesystem::perms source);

// Whether an output's last-write time is the one copied from its source: to
// the nanosecond on POSIX, to the 100 ns step of a Windows file time there.
bool copiedTime(std::filesystem::file_time_type output, std::filesystem::file_time_type source);

}  // namespace e2e
