// The interrupt handler that removes the temporaries being written, for
// POSIX.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "platform/internal.h"
#include "platform/posix_util.h"

namespace vesk::platform {
namespace {

// The handler allocates nothing, so the names wait in fixed records: the
// directory, and the name within it; a name that does not fit goes unnoted.
struct PendingName {
  int dir;
  char name[NAME_MAX + 1];
};

PendingTemporaries<PendingName, 8> pending;

// SIGPIPE is not among them: it is ignored, so that a write to a pipe whose
// reader has gone fails with EPIPE and is reported like any other failure.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU};

// Removes the noted temporaries, then ends the process as the signal would
// have without the handler. Only async-signal-safe calls.
extern "C" void removeTemporariesAndDie(int signal) {
  for (auto& slot : pending) {
    int expected = kNamed;
    if (slot.state.compare_exchange_strong(expected, kRemoving)) {
      ::unlinkat(slot.name.dir, slot.name.name, 0);
    }
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  // The signal is blocked while its handler runs: raised now, it is pending,
  // and unblocking it delivers it.
  ::raise(signal);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace

void installInterruptCleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = removeTemporariesAndDie;
  sigemptyset(&action.sa_mask);
  for (int signal : kInterrupts) sigaddset(&action.sa_mask, signal);
  for (int signal : kInterrupts) {
    // A signal ignored by whoever started vesk (nohup, a background job)
    // stays ignored.
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

void noteTemporary(int dir, const std::string& base) noexcept {
  if (base.size() > NAME_MAX) return;
  pending.add([&](PendingName& slot) {
    slot.dir = dir;
    std::memcpy(slot.name, base.c_str(), base.size() + 1);
  });
}

void forgetTemporary(int dir, const std::string& base) noexcept {
  pending.mark([&](const PendingName& slot) { return slot.dir == dir && base == slot.name; },
               kFree);
}

}  // namespace vesk::platform
