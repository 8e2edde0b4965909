# cmake -DFROM=man/<page>.1 -DTO=<file> -DVERSION=<version> -P manual-page.cmake
# Copies a manual page, putting the version into its .TH title line, the one
# line that names it.
file(READ "${FROM}" text)
string(FIND "${text}" "\n" end)
string(SUBSTRING "${text}" 0 ${end} title)
string(SUBSTRING "${text}" ${end} -1 rest)
if(NOT title MATCHES "^\\.TH .*@PROJECT_VERSION@")
  message(FATAL_ERROR "${FROM}: the first line is no .TH line naming @PROJECT_VERSION@")
endif()
string(REPLACE "@PROJECT_VERSION@" "${VERSION}" title "${title}")
file(WRITE "${TO}" "${title}${rest}")
