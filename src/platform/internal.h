// What the POSIX and the Windows implementation of the platform layer share:
// the name of a temporary file, and the registry of the temporaries being
// written that an interrupt handler removes. Private to src/platform/.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

namespace vesk::platform {

// A fresh name for a temporary file beside `file`:
// "<dir>.<base>.<pid>-<counter>.vesk-tmp", where <dir> is `file` up to and
// including its last separator (one of `separators`), or `here` when it has
// none. The base is cut to 200 bytes, so that the name stays within the
// usual 255-byte limit for long names.
std::string temporaryName(const std::string& file, std::string_view separators,
                          std::string_view here, unsigned long pid);

// The states of a slot of PendingTemporaries. Each slot goes
//   kFree -> kFilling   a thread is copying a name in; the handler skips it
//         -> kNamed     the file may exist; the handler may remove it
//   kNamed <-> kBusy    another service holds the file (a copy being made
//                       into it); the handler waits until it is named again
//   kNamed -> kRemoving the handler has taken it; it stays so, since the
//                       process is ending
//   kNamed or kBusy -> kFree once the run has removed or renamed the file.
enum SlotState : int { kFree, kFilling, kNamed, kBusy, kRemoving };

// The names of the temporary files being written, for an interrupt handler
// to remove. The slots are fixed memory and their states lock-free atomics,
// so that the handler allocates nothing and never waits for a lock. `Name`
// is the platform's fixed-size record of a name.
template <class Name, std::size_t kSlots>
class PendingTemporaries {
 public:
  struct Slot {
    std::atomic<int> state{kFree};
    Name name;
  };
  static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free slots");

  // Takes a free slot, lets fill(name) copy the name in, and hands the slot
  // to the handler. A name beyond the few outputs written at once goes
  // unnoted: the run itself still removes its file.
  template <class Fill>
  void add(Fill&& fill) {
    for (Slot& slot : slots_) {
      int expected = kFree;
      if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
      fill(slot.name);
      slot.state.store(kNamed);
      return;
    }
  }

  // Moves the slot whose name `matches` from kNamed or kBusy to `to`. A slot
  // the handler has taken stays taken.
  template <class Match>
  void mark(Match&& matches, SlotState to) {
    for (Slot& slot : slots_) {
      int state = slot.state.load();
      if ((state != kNamed && state != kBusy) || !matches(slot.name)) continue;
      slot.state.compare_exchange_strong(state, to);
      return;
    }
  }

  Slot* begin() { return slots_; }
  Slot* end() { return slots_ + kSlots; }

 private:
  Slot slots_[kSlots];
};

}  // namespace vesk::platform
