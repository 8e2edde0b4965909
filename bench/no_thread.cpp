// Loaded with LD_PRELOAD by the benchmark's "writer" row: every attempt to
// start a thread fails, so vesk, which then writes each output block itself,
// converts on one thread. The rest of the program is the release build,
// unchanged.
//
//   built as build/bench/bench/no_thread.so (bench/CMakeLists.txt)

#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t* /*thread*/, const pthread_attr_t* /*attr*/,
                              void* (* /*start*/)(void*), void* /*arg*/) {
  return EAGAIN;
}
