// Runs a command on what looks like a file system without unnamed temporary
// files, so that the tests it runs take the named-temporary way:
//   named_temporaries COMMAND [ARG...]
#include <unistd.h>

#include <cstdio>

#include "testutil/no_unnamed.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: named_temporaries COMMAND [ARG...]\n", stderr);
    return 2;
  }
  if (!fault::refuseUnnamedTemporaries()) {
    std::perror("named_temporaries: seccomp");
    return 1;
  }
  ::execvp(argv[1], argv + 1);
  std::perror(argv[1]);
  return 127;
}
