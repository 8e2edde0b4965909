// What the POSIX unit tests of the platform layer share. Test code only.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace vesk::platform {

// Runs body in a child process; returns its wait status. The child's exit
// status is 0 unless body ends it otherwise.
inline int statusOfChild(const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

}  // namespace vesk::platform
