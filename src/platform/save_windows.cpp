// Saving a document, for Windows: a plain file is replaced as a whole, a
// device, a pipe, a linked file or a link's target is written into in place.
#include "platform/windows_util.h"

namespace vesk::platform {

struct SaveFile::State {
  UniqueHandle handle;
};

namespace {

// Truncates a file written into in place, as an open for writing that
// replaces the contents does.
void truncateInPlace(const std::string& target, HANDLE handle) {
  if (::GetFileType(handle) != FILE_TYPE_DISK) return;
  if (::SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::SetEndOfFile(handle)) {
    fail(target, ::GetLastError());
  }
}

// Whether the name is a symbolic link to a file (a reparse point that is no
// directory), also a dangling one: its own attributes say so.
bool isFileLink(const std::string& target) {
  DWORD attributes = fileAttributes(target);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// What a save writes into rather than replaces: a device (NUL, CON, COM1), a
// pipe, a file with several links, or what a symbolic link leads to, which
// is created if it is missing. Returns that open for writing, or no handle
// when the target is to be replaced: a missing name, a file with one link,
// or a name that cannot be opened for writing (replacing it says why).
UniqueHandle openInPlace(const std::string& target) {
  bool link = isFileLink(target);
  UniqueHandle handle(createFile(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 link ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (!handle) {
    if (link) fail(target, ::GetLastError());
    return handle;
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool inPlace = link || ::GetFileType(handle.get()) != FILE_TYPE_DISK ||
                 (::GetFileInformationByHandle(handle.get(), &info) && info.nNumberOfLinks > 1);
  if (!inPlace) return UniqueHandle();
  truncateInPlace(target, handle.get());
  return handle;
}

}  // namespace

SaveFile::SaveFile(const std::string& target) : target_(target) {
  UniqueHandle handle = openInPlace(target);
  if (handle) {
    state_ = std::make_unique<State>();
    state_->handle = std::move(handle);
  } else {
    atomic_ = std::make_unique<AtomicFile>(target);
  }
}

SaveFile::~SaveFile() = default;

void SaveFile::write(const char* data, std::size_t size) {
  if (atomic_) {
    atomic_->write(data, size);
    return;
  }
  if (!state_ || !state_->handle) fail(target_, ERROR_INVALID_HANDLE);
  DWORD error = writeAll(state_->handle.get(), data, size);
  if (error == 0) return;
  parkIfInterrupted();  // the console written into may be closing
  fail(target_, error);
}

void SaveFile::commit() {
  if (atomic_) {
    atomic_->commit();
    return;
  }
  if (!state_) return;
  DWORD error = state_->handle.close();
  if (error != 0) fail(target_, error);
}

}  // namespace vesk::platform
