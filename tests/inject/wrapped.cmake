# Fails when the platform library calls a C library function that vesk-inject
# does not wrap and that cannot be left out either, so that no new system
# call escapes the fault injection unnoticed.
#
#   cmake -DNM=<nm> -DLIBRARY=<libvesk_platform.a> -DWRAPPED=open,read,... -P wrapped.cmake

cmake_minimum_required(VERSION 3.25)

# Calls that cannot fail, or whose failure is no fault of the run's files.
set(cannot_fail
    __errno_location abort _exit free getauxval getpid getuid geteuid getgid getegid kill raise
    signal __isoc99_sscanf memchr memcmp
    memcpy memmove memset sigaddset sigdelset sigemptyset sigfillset sigprocmask
    pthread_sigmask strerror strlen umask)
# Compiler, C++ runtime and instrumentation symbols.
set(runtime_prefixes
    _Z __cxa_ _Unwind_ __gxx_personality __stack_chk_fail __asan __ubsan __sanitizer __tsan
    __gcov __llvm __tls_get_addr _GLOBAL_OFFSET_TABLE_ __dso_handle __gmon_start__)

execute_process(COMMAND "${NM}" -u "${LIBRARY}" OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} -u ${LIBRARY} failed")
endif()
string(REPLACE "," ";" wrapped "${WRAPPED}")
string(REGEX MATCHALL "U [^\n]+" references "${listing}")
set(missing)
foreach(reference IN LISTS references)
  string(REGEX REPLACE "^U ([^@ ]+).*" "\\1" name "${reference}")
  if(name IN_LIST wrapped OR name IN_LIST cannot_fail)
    continue()
  endif()
  set(runtime FALSE)
  foreach(prefix IN LISTS runtime_prefixes)
    string(FIND "${name}" "${prefix}" at)
    if(at EQUAL 0)
      set(runtime TRUE)
    endif()
  endforeach()
  if(NOT runtime)
    list(APPEND missing ${name})
  endif()
endforeach()
list(REMOVE_DUPLICATES missing)
if(missing)
  message(FATAL_ERROR "the platform layer calls functions vesk-inject does not wrap: ${missing}\n"
                      "add them to VESK_INJECT_WRAPPED and tests/inject/shim.cpp")
endif()
message(STATUS "every C library call of the platform layer is wrapped")
