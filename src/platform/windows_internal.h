// Helpers of single Windows files of the platform layer, declared here for
// their unit tests (<concern>_windows_test.cpp). Private to src/platform/.
#pragma once

#include <string>

#include "platform/windows_util.h"

namespace vesk::platform {

// ---- Listings (directory_windows.cpp) ---------------------------------------

// `name` inside `dir`, with a separator unless `dir` ends in one or a drive.
std::string joinEntry(const std::string& dir, const std::string& name);

// A name's extension, lower-cased, without the dot; "" when it has none.
std::string extensionOf(const char* name);

// Whether looking the entry's long name up again in `dir` finds this very
// entry: a name the code page cannot hold comes from the "A" services with
// '?' or respelt, and may be another entry's.
bool longNameHolds(const std::string& dir, const WIN32_FIND_DATAA& found);

// The UTF-8 name under which the "A" services reach an entry: its long name
// where that holds, else its short name; an entry whose short name is
// missing or changes the extension is an error.
std::string ansiEntryName(const std::string& dir, const WIN32_FIND_DATAA& found);

// ---- Arguments (process_windows.cpp) ----------------------------------------

// Whether a program was started by a path rather than by its bare name.
bool hasDirectoryPart(const std::wstring& path);

// An argument as UTF-8; without the wide services, one that the ANSI code
// page cannot hold exactly is an error.
std::string argumentText(const std::wstring& argument);

}  // namespace vesk::platform
