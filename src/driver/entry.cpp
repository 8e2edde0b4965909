// The process entry of vesk and vesk-trace.
#include "driver/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // The POSIX handlers come with the POSIX platform layer's own change.
  if constexpr (vesk::platform::kWindows) vesk::platform::installInterruptCleanup();
  return vesk::runMain(argc, argv);
}
