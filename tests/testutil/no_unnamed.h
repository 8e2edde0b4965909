// File systems without unnamed temporary files, imitated for a process.
#pragma once

namespace fault {

// From here on, openat() with O_TMPFILE fails with EOPNOTSUPP in this process
// and every process it starts, as on a file system that has no unnamed
// temporary files. False when the filter cannot be installed.
bool refuseUnnamedTemporaries();

}  // namespace fault
