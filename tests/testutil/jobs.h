// The jobs that the injection and hostile-environment sweeps run, the files
// each starts from, and snapshots of those files to compare runs by.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "testutil/harness.h"

namespace fault {

struct FileSpec {
  std::string name;
  std::string bytes;
  int age = 1000;  // seconds before kBaseTime of its last write
  unsigned mode = 0644;
  std::string linkTo = {};  // if set, the file is a symbolic link to this
};

struct Job {
  std::string name;
  std::vector<FileSpec> files;
  std::vector<std::string> args;
  std::string outDir;  // where the outputs go, relative, with "/" at the end
  bool sync = false;   // new outputs carry their source's times
};

struct FileState {
  std::string bytes;
  unsigned mode = 0;
  std::int64_t mtimeNs = 0;
  bool link = false;
};
using Snapshot = std::map<std::string, FileState>;

// Every job of the sweeps: copies, rewrites, -sync, -doifmodified,
// extraction, a setting file and -version.
const std::vector<Job>& jobs();
// A rewrite of more than one output block, written from the second thread.
const Job& largeRewrite();

// The regular files below the program's directory, the program aside.
Snapshot snapshot(const e2e::Sandbox& box);
// Empties the program's directory (the program aside) and lays out the
// job's files.
void setUp(const e2e::Sandbox& box, const Job& job);

}  // namespace fault
