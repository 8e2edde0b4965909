// The one error type of the YAML module.
#pragma once

#include <concepts>
#include <string>
#include <string_view>
#include <utility>

#include "base/exception.h"

namespace kesoyaml {

// Anything that can name its concrete class: the nodes and the parser states.
template <class T>
concept HasClassName = requires(const T& source) {
  { source.className() } -> std::convertible_to<std::string_view>;
};

class YamlError : public vesk::Error {
 public:
  // Keeps the message unchanged (the parser composes its own messages).
  explicit YamlError(std::string message) : vesk::Error(std::move(message)) {}

  // "<class name of source>: <message>".
  template <HasClassName Source>
  YamlError(const Source& source, std::string_view message)
      : vesk::Error(std::string(source.className()) + ": " + std::string(message)) {}
};

}  // namespace kesoyaml
