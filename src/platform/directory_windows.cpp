// Names in the file system and directory listings, for Windows.
#include <cstring>
#include <optional>

#include "base/exception.h"
#include "platform/windows_internal.h"

namespace vesk::platform {
namespace {

FileKind kindOfAttributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::Other;
  return FileKind::File;
}

bool isMissingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH || error == ERROR_BAD_PATHNAME ||
         error == ERROR_INVALID_DRIVE || error == ERROR_NOT_READY || error == ERROR_DIRECTORY;
}

// What a reparse point (a symbolic link, a junction) leads to, found by
// opening it and so following it.
FileKind kindOfReparseTarget(const std::string& path) {
  UniqueHandle handle(createFile(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (!handle) return isMissingError(::GetLastError()) ? FileKind::Missing : FileKind::Other;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle.get(), &info)) return FileKind::Other;
  return kindOfAttributes(info.dwFileAttributes);
}

// A walk enters real directories only; a linked directory (a reparse point)
// is Other, a link to a file counts as the file.
DirEntry::Kind entryKind(const std::string& path, DWORD attributes) {
  bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (directory) return DirEntry::Kind::Other;
    return kindOfReparseTarget(path) == FileKind::File ? DirEntry::Kind::File
                                                       : DirEntry::Kind::Other;
  }
  if (directory) return DirEntry::Kind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return DirEntry::Kind::Other;
  return DirEntry::Kind::File;
}

}  // namespace

std::string joinEntry(const std::string& dir, const std::string& name) {
  char last = dir.back();
  if (last == '\\' || last == '/' || last == ':') return dir + name;
  return dir + "\\" + name;
}

namespace {

// A directory that is gone (removed while a walk goes on, or replaced by a
// file: Windows says ERROR_DIRECTORY, Wine ERROR_INVALID_NAME) lists
// nothing; any other failure to list it is reported.
bool isVanishedError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME || error == ERROR_NO_MORE_FILES;
}

bool isDotEntry(std::string_view name) { return name == "." || name == ".."; }

// A name of a listing that no conversion can give back to us names nothing we
// could open; it is reported rather than dropped.
[[noreturn]] void failEntryName(const std::string& dir, DWORD error) {
  fail(joinEntry(dir, "?"), error);
}

// Lists one directory with the wide or the ANSI find services: `first` opens
// the search, `next` steps it and `nameOf` gives an entry's UTF-8 name, or
// nothing for "." and "..".
template <class FindData, class First, class Next, class NameOf>
void listEntries(const std::string& dir, std::vector<DirEntry>& entries, First first, Next next,
                 NameOf nameOf) {
  FindData found;
  UniqueFind search(first(found));
  if (!search) {
    DWORD error = ::GetLastError();
    if (isVanishedError(error)) return;
    fail(dir, error);
  }
  do {
    std::optional<std::string> name = nameOf(found);
    if (!name) continue;
    DirEntry::Kind kind = entryKind(joinEntry(dir, *name), found.dwFileAttributes);
    entries.push_back(DirEntry{std::move(*name), kind});
  } while (next(search.get(), found));
  DWORD error = ::GetLastError();
  search.reset();
  if (error != ERROR_NO_MORE_FILES) fail(dir, error);
}

void listWide(const std::string& dir, std::vector<DirEntry>& entries) {
  listEntries<WIN32_FIND_DATAW>(
      dir, entries,
      [&](WIN32_FIND_DATAW& found) {
        return ::FindFirstFileW(wideName(joinEntry(dir, "*")).c_str(), &found);
      },
      [](HANDLE handle, WIN32_FIND_DATAW& found) { return ::FindNextFileW(handle, &found); },
      [&](const WIN32_FIND_DATAW& found) -> std::optional<std::string> {
        std::string name;
        try {
          name = utf8FromWide(found.cFileName, checkedSize(std::wcslen(found.cFileName)));
        } catch (const Exception&) {
          failEntryName(dir, ERROR_NO_UNICODE_TRANSLATION);
        }
        if (isDotEntry(name)) return std::nullopt;
        return name;
      });
}

bool sameFindData(const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
  auto same = [](const FILETIME& x, const FILETIME& y) {
    return x.dwLowDateTime == y.dwLowDateTime && x.dwHighDateTime == y.dwHighDateTime;
  };
  return a.dwFileAttributes == b.dwFileAttributes && same(a.ftCreationTime, b.ftCreationTime) &&
         same(a.ftLastWriteTime, b.ftLastWriteTime) && a.nFileSizeHigh == b.nFileSizeHigh &&
         a.nFileSizeLow == b.nFileSizeLow && std::strcmp(a.cFileName, b.cFileName) == 0 &&
         std::strcmp(a.cAlternateFileName, b.cAlternateFileName) == 0;
}

}  // namespace

// Whether looking the entry's long name up again finds this very entry. The
// "A" services hand out a name the code page cannot hold with the default
// character ('?', a wildcard) in place of the lost characters, or respelt by
// best fit, and then it may be the name of another entry (é.vsk as e.vsk).
bool longNameHolds(const std::string& dir, const WIN32_FIND_DATAA& found) {
  if (std::strpbrk(found.cFileName, "?*") != nullptr) return false;
  if (found.cAlternateFileName[0] == '\0') return true;  // a short name already
  WIN32_FIND_DATAA again;
  UniqueFind search(::FindFirstFileA(joinEntry(ansiName(dir), found.cFileName).c_str(), &again));
  if (!search) return false;
  search.reset();
  return sameFindData(found, again);
}

std::string extensionOf(const char* name) {
  const char* dot = std::strrchr(name, '.');
  std::string extension = dot == nullptr ? std::string() : std::string(dot + 1);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

// The name under which the "A" services can reach an entry: its long name
// where that holds, else its short name, which the code page always holds.
// A short name that would change the extension (a.vskx as A~1.VSK) would make
// extraction take a file it should not, so that entry is reported instead.
std::string ansiEntryName(const std::string& dir, const WIN32_FIND_DATAA& found) {
  const char* name = found.cFileName;
  if (!longNameHolds(dir, found)) {
    if (found.cAlternateFileName[0] == '\0' ||
        extensionOf(found.cAlternateFileName) != extensionOf(found.cFileName)) {
      fail(joinEntry(dir, fromMultiByte(found.cFileName)), ERROR_NO_UNICODE_TRANSLATION);
    }
    name = found.cAlternateFileName;
  }
  return fromMultiByte(name);
}

namespace {

void listAnsi(const std::string& dir, std::vector<DirEntry>& entries) {
  listEntries<WIN32_FIND_DATAA>(
      dir, entries,
      [&](WIN32_FIND_DATAA& found) {
        return ::FindFirstFileA(ansiName(joinEntry(dir, "*")).c_str(), &found);
      },
      [](HANDLE handle, WIN32_FIND_DATAA& found) { return ::FindNextFileA(handle, &found); },
      [&](const WIN32_FIND_DATAA& found) -> std::optional<std::string> {
        if (isDotEntry(found.cFileName)) return std::nullopt;
        return ansiEntryName(dir, found);
      });
}

}  // namespace

FileKind fileKind(const std::string& path) {
  try {
    DWORD attributes = fileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      return isMissingError(::GetLastError()) ? FileKind::Missing : FileKind::Unknown;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kindOfReparseTarget(path);
    return kindOfAttributes(attributes);
  } catch (const Exception&) {
    return FileKind::Missing;  // a name that cannot be converted names nothing
  }
}

void createDirectory(const std::string& path) {
  BOOL ok = useWideApi() ? ::CreateDirectoryW(wideName(path).c_str(), nullptr)
                         : ::CreateDirectoryA(ansiName(path).c_str(), nullptr);
  if (!ok) fail(path, ::GetLastError());
}

std::vector<DirEntry> listDirectory(const std::string& dir) {
  std::vector<DirEntry> entries;
  if (dir.empty()) return entries;
  if (useWideApi()) {
    listWide(dir, entries);
  } else {
    listAnsi(dir, entries);
  }
  return entries;
}

}  // namespace vesk::platform
