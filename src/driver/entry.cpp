// The process entry of vesk and vesk-trace.
#include "driver/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) { return vesk::runMain(vesk::platform::arguments(argc, argv)); }
