// The process entry of vesk and vesk-trace.
#include "driver/program.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // First of all, so that an interrupt at any later moment removes the
  // temporary file of the output being written.
  vesk::platform::installInterruptCleanup();
  return vesk::runMain(argc, argv);
}
