#include "testutil/no_unnamed.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>
#include <iterator>

namespace fault {

bool refuseUnnamedTemporaries() {
  // O_TMPFILE is this bit together with O_DIRECTORY; the bit alone tells it
  // apart from opening a directory.
  constexpr unsigned kTmpfileBit = 020000000;
  static_assert((O_TMPFILE & kTmpfileBit) != 0 && (O_DIRECTORY & kTmpfileBit) == 0);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr unsigned kFlagsWord = offsetof(seccomp_data, args[2]);
#else
  constexpr unsigned kFlagsWord = offsetof(seccomp_data, args[2]) + 4;
#endif
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFlagsWord),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kTmpfileBit, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

}  // namespace fault
