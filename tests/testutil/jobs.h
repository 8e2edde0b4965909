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

// An output as a clean run must leave it, fixed rather than taken from a run
// of the same program, so that a fault present in every run shows.
struct OutputSpec {
  std::string name;
  std::string bytes;
  unsigned mode = 0644;  // a new output: before the umask cuts it
  bool fresh = true;     // no output was there: the umask applies
  int age = -1;          // as FileSpec::age; -1: the time is not checked
};

struct Job {
  std::string name;
  std::vector<FileSpec> files;
  std::vector<std::string> args;
  std::string outDir;                    // where the outputs go, relative, with "/" at the end
  bool sync = false;                     // new outputs carry their source's times
  std::vector<OutputSpec> outputs = {};  // every file a clean run writes
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
// What differs between a clean run's files and the job's fixed outputs
// under `umask`, "" if nothing: the bytes, bits and times of every output,
// and every other file as `before`.
std::string checkOutputs(const Job& job, const Snapshot& before, const Snapshot& after,
                         unsigned umask);
// Empties the program's directory (the program aside) and lays out the
// job's files.
void setUp(const e2e::Sandbox& box, const Job& job);

}  // namespace fault
