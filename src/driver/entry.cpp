// The process entry of vesk and vesk-trace.
#include "driver/program.h"

int main(int argc, char** argv) { return vesk::runMain(argc, argv); }
