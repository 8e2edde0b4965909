// Temporary files and the console handler that removes them, for Windows.
//
// A console control event (Ctrl-C, Ctrl-Break, closing the console, logging
// off, shutting down) runs the handler on a thread of its own while the run
// goes on. The handler removes the temporaries being written and ends the
// process as the system's default handler does. Temporaries are opened with
// FILE_SHARE_DELETE, so they can be deleted while they are being written;
// their names wait in fixed buffers, so the handler allocates nothing.
#include <atomic>
#include <cstring>

#include "platform/internal.h"
#include "platform/windows_util.h"

namespace vesk::platform {
namespace {

// Set by the handler. From then on the run's own threads stop where they
// would otherwise report what the removal of their temporary did to them.
std::atomic<bool> interrupted{false};

[[noreturn]] void parkUntilProcessExits() {
  for (;;) ::Sleep(INFINITE);
}

constexpr std::size_t kNameUnits = 32768;  // the longest name Windows takes

// A name as the services in use take it.
struct PendingName {
  bool wide;
  wchar_t wideName[kNameUnits];
  char ansiName[kNameUnits];
};

constexpr std::size_t kPendingSlots = 4;
PendingTemporaries<PendingName, kPendingSlots> pending;

// Keeps the temporary's name for the handler. A name that finds no free slot
// is not removed on an interrupt; the run itself removes it as always.
void rememberTemporary(const std::string& name) {
  bool wide = useWideApi();
  std::wstring wideText = wide ? wideName(name) : std::wstring();
  std::string ansiText = wide ? std::string() : ansiName(name);
  if (wideText.size() >= kNameUnits || ansiText.size() >= kNameUnits) return;
  pending.add([&](PendingName& slot) {
    slot.wide = wide;
    std::memcpy(slot.wideName, wideText.c_str(), (wideText.size() + 1) * sizeof(wchar_t));
    std::memcpy(slot.ansiName, ansiText.c_str(), ansiText.size() + 1);
  });
}

void markTemporary(const std::string& name, SlotState state) {
  pending.mark(
      [&](const PendingName& slot) {
        return slot.wide ? wideName(name) == slot.wideName : ansiName(name) == slot.ansiName;
      },
      state);
}

// Deletes a remembered temporary from the handler, also one that a copy made
// read-only. True when it is gone, or will be once its last handle closes.
bool deletePending(const PendingName& name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    BOOL ok = name.wide ? ::DeleteFileW(name.wideName) : ::DeleteFileA(name.ansiName);
    if (ok) return true;
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    if (name.wide) {
      ::SetFileAttributesW(name.wideName, FILE_ATTRIBUTE_NORMAL);
    } else {
      ::SetFileAttributesA(name.ansiName, FILE_ATTRIBUTE_NORMAL);
    }
  }
  return false;
}

// Removes every remembered temporary. One that is busy (being named, a copy
// being made into it, or its times being set) is tried again for up to
// three seconds; the run's threads stop at their next step, so it is free
// again soon.
void removePendingTemporaries() {
  bool done[kPendingSlots] = {};
  for (int round = 0; round < 300; ++round) {
    bool busy = false;
    std::size_t i = 0;
    for (auto& slot : pending) {
      bool& gone = done[i++];
      if (gone) continue;
      int state = slot.state.load();
      if (state == kFree || (state == kNamed && deletePending(slot.name))) {
        gone = true;
      } else {
        busy = true;
      }
    }
    if (!busy) return;
    ::Sleep(10);
  }
}

BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  interrupted.store(true);
  removePendingTemporaries();
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
  return TRUE;
}

}  // namespace

void installInterruptCleanup() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool isInterrupted() { return interrupted.load(); }

void parkIfInterrupted() {
  if (isInterrupted()) parkUntilProcessExits();
}

UniqueHandle createTemporary(const std::string& target, DWORD attributes, std::string& temporary) {
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  for (int attempt = 0;; ++attempt) {
    temporary = temporaryName(target, "\\/:", "", ::GetCurrentProcessId());
    // Noted before the file can exist, so that an interrupt arriving as it
    // is created already finds its name.
    rememberTemporary(temporary);
    UniqueHandle handle(
        createFile(temporary, GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_NEW, attributes));
    if (handle) {
      // An interrupt that came before the handler could see the name.
      if (isInterrupted()) {
        handle.reset();
        removeOwnFile(temporary);
        parkUntilProcessExits();
      }
      return handle;
    }
    DWORD error = ::GetLastError();
    markTemporary(temporary, kFree);  // not ours: another file, or none
    if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
    temporary.clear();
    parkIfInterrupted();
    fail(target, error);
  }
}

void markCopying(const std::string& temporary, bool copying) {
  markTemporary(temporary, copying ? kBusy : kNamed);
}

void removeOwnFile(const std::string& name) noexcept {
  try {
    markTemporary(name, kFree);
    if (!deleteFile(name)) {
      setFileAttributes(name, FILE_ATTRIBUTE_NORMAL);
      deleteFile(name);
    }
  } catch (...) {
  }
}

void forgetTemporary(const std::string& name) { markTemporary(name, kFree); }

}  // namespace vesk::platform
