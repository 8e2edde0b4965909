# cmake -DVERSION=<version> -DROOT=<source dir> -P check-version.cmake
# The version is written once, in project(); these files must spell it out
# and fail this check when they name another.
set(places
    "packaging/changelog|^vesk \\(([^)]*)\\)"
    "tests/e2e/setting_test.cpp|VESK VERSION: ([0-9.]+)"
    "tests/fault/fault.cpp|VESK VERSION: ([0-9.]+)")
set(failed FALSE)
foreach(place IN LISTS places)
  string(FIND "${place}" "|" bar)
  string(SUBSTRING "${place}" 0 ${bar} file)
  math(EXPR bar "${bar} + 1")
  string(SUBSTRING "${place}" ${bar} -1 pattern)
  file(STRINGS "${ROOT}/${file}" lines REGEX "${pattern}")
  if(NOT lines)
    message(SEND_ERROR "${file}: no line matches ${pattern}")
    set(failed TRUE)
  endif()
  foreach(line IN LISTS lines)
    string(REGEX MATCH "${pattern}" found "${line}")
    if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
      message(SEND_ERROR "${file}: names version ${CMAKE_MATCH_1}, project() says ${VERSION}")
      set(failed TRUE)
    endif()
  endforeach()
endforeach()
# The manual pages take the version when they are built: their title line
# holds the placeholder, not a number.
foreach(page IN ITEMS vesk vesk-trace)
  file(STRINGS "${ROOT}/man/${page}.1" title LIMIT_COUNT 1)
  if(NOT title MATCHES "^\\.TH .*@PROJECT_VERSION@")
    message(SEND_ERROR "man/${page}.1: the .TH line does not name @PROJECT_VERSION@")
    set(failed TRUE)
  endif()
endforeach()
if(NOT failed)
  message(STATUS "every place names version ${VERSION}")
endif()
