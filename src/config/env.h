// The raw run settings: what a run was asked to do, in the textual form in
// which the command line and the setting file deliver it. Nothing is judged
// here; the conversion job interprets the tables when it is built.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "base/ordered_map.h"

namespace vesk {

using StringTable = OrderedMap<std::string>;
using VariableTable = StringTable;

// The text form of variables: name=value pairs separated by commas. Each
// piece is trimmed at both ends; the name is the text before the first '='
// and the value the rest of the line after it. A piece without '=' names
// itself; pieces with an empty name are dropped; a later name wins.
VariableTable parseVariables(std::string_view text);

class VESKEnv {
 public:
  VESKEnv() = default;
  virtual ~VESKEnv() = default;
  VESKEnv(const VESKEnv&) = default;
  VESKEnv& operator=(const VESKEnv&) = default;
  VESKEnv(VESKEnv&&) = default;
  VESKEnv& operator=(VESKEnv&&) = default;

  // options[name] = value; the name "variables" replaces the variable table
  // with parseVariables(value) instead.
  virtual void setOption(std::string_view name, std::string_view value);
  // includes[absolute path of file] = number text (empty: automatic).
  virtual void addInclude(std::string_view file, std::string_view number);
  virtual void setVariable(std::string_view name, std::string_view value);
  // Replaces the whole variable table with parseVariables(text).
  virtual void setVariables(std::string_view text);

  // Copies the other object's entries in, table by table. Without overwrite
  // the entries already here win. Keys are taken as they stand.
  virtual void merge(const VESKEnv& other, bool overwrite);
  virtual void mergeIncludes(const StringTable& table, bool overwrite);
  virtual void mergeOptions(const StringTable& table, bool overwrite);
  virtual void mergeVariables(const VariableTable& table, bool overwrite);
  // The same for an object that is not needed afterwards: a table of its
  // merged into an empty one here is moved, not copied, which matters for a
  // setting file of many variables.
  void merge(VESKEnv&& other, bool overwrite);

  // Hands the variable table over; this object's is empty afterwards.
  VariableTable takeVariables() { return std::exchange(variables_, VariableTable()); }

  virtual const StringTable& includes() const { return includes_; }
  virtual const StringTable& options() const { return options_; }
  virtual const VariableTable& variables() const { return variables_; }

 private:
  StringTable includes_;
  VariableTable variables_;
  StringTable options_;
};

}  // namespace vesk
