// The YAML-subset module: node trees (node.h), their writer (save, write)
// and the reader entry points below.
//
// vesk itself only reads: it loads the setting file with loadYaml and walks
// the tree with the kind tests, item(key), asAssoc, asArray, asString and
// the direct entries() and text(). The module keeps the rest of its
// interface although the program does not call it: the writer (save,
// write, writeBody, YamlOutput and, in the platform layer, SaveFile), the
// typed views and setters of node.h (asStringAssoc, asInt, putInts,
// appendDoubles, ...), item(index) and readYaml. The module's own tests
// cover them, and the parser's fuzzer writes back every tree it reads.
#pragma once

#include <istream>
#include <string>

#include "yaml/node.h"
#include "yaml/yaml_error.h"

namespace kesoyaml {

// Reads the named file. Returns the root, or none for a document without a
// root container. A file that cannot be read raises vesk::FileException; a
// malformed document raises YamlError.
NodeRef loadYaml(const std::string& fileName);

// Reads the whole stream. A stream that fails while reading raises
// vesk::Exception.
NodeRef readYaml(std::istream& in);

// Parses a text that ends with one NUL, the terminator; one is appended when
// it is missing.
NodeRef parseText(std::string text);

}  // namespace kesoyaml
