// The exception family of vesk. Every failure travels as one of these to the
// single handler at the program's entry, which prints its message.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace vesk {

// Common base: a message and nothing else.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Base of the YAML module's errors.
class Error : public Exception {
 public:
  using Exception::Exception;
};

// A file-system failure: "<file>: <reason>".
class FileException : public Exception {
 public:
  FileException(const std::string& file, const std::string& reason)
      : Exception(file + ": " + reason) {}
};

// Decimal conversions: "Error: conversion <text>" / "Error: overflow <text>".
class ConversionException : public Exception {
 public:
  explicit ConversionException(const std::string& text) : Exception("Error: conversion " + text) {}
};

class OverflowException : public Exception {
 public:
  explicit OverflowException(const std::string& text) : Exception("Error: overflow " + text) {}
};

// Raised by the trace build's run-time checks (bounds, assertions) so that
// the entry's handler reports them instead of the process aborting.
class CheckException : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace vesk
