// The KERNEL32 services on names, each in its wide or its ANSI form as the
// system offers them.
#include "platform/windows_util.h"

namespace vesk::platform {
namespace {

// A copy in progress stops when the run is interrupted.
DWORD CALLBACK copyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                            DWORD, HANDLE, HANDLE, LPVOID) {
  return isInterrupted() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

}  // namespace

HANDLE createFile(const std::string& name, DWORD access, DWORD share, DWORD disposition,
                  DWORD flags) {
  if (useWideApi()) {
    return ::CreateFileW(wideName(name).c_str(), access, share, nullptr, disposition, flags,
                         nullptr);
  }
  return ::CreateFileA(ansiName(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

DWORD fileAttributes(const std::string& name) {
  if (useWideApi()) return ::GetFileAttributesW(wideName(name).c_str());
  return ::GetFileAttributesA(ansiName(name).c_str());
}

BOOL setFileAttributes(const std::string& name, DWORD attributes) {
  if (useWideApi()) return ::SetFileAttributesW(wideName(name).c_str(), attributes);
  return ::SetFileAttributesA(ansiName(name).c_str(), attributes);
}

BOOL deleteFile(const std::string& name) {
  if (useWideApi()) return ::DeleteFileW(wideName(name).c_str());
  return ::DeleteFileA(ansiName(name).c_str());
}

BOOL moveReplacing(const std::string& from, const std::string& to) {
  if (useWideApi()) {
    return ::MoveFileExW(wideName(from).c_str(), wideName(to).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  return ::MoveFileExA(ansiName(from).c_str(), ansiName(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

BOOL copyFile(const std::string& from, const std::string& to) {
  if (useWideApi()) {
    return ::CopyFileExW(wideName(from).c_str(), wideName(to).c_str(), copyProgress, nullptr,
                         nullptr, 0);
  }
  std::string source = ansiName(from), target = ansiName(to);
  if (::CopyFileExA(source.c_str(), target.c_str(), copyProgress, nullptr, nullptr, 0)) return TRUE;
  if (::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return FALSE;
  return ::CopyFileA(source.c_str(), target.c_str(), FALSE);  // a system without CopyFileEx
}

}  // namespace vesk::platform
