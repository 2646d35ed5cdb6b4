#pragma once
// The run-time error type of the platform stand-ins and the control.
//
// A few failures travel as errors rather than results, because the interface a host sees says
// they reach it: arithmetic overflow, a subscript out of range, a value of the wrong type read
// from a property bag, an invalid property value. Each carries the number, source and
// description a caller can show. Everything that can report a failure as a value does.

#include <stdexcept>
#include <string>
#include <utility>

namespace velmora::platform {

inline constexpr int kErrOverflow = 6;
inline constexpr int kErrSubscriptOutOfRange = 9;
inline constexpr int kErrDivisionByZero = 11;
inline constexpr int kErrTypeMismatch = 13;
inline constexpr int kErrEndOfFile = 53;
inline constexpr int kErrInvalidPropertyValue = 380;

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, std::string source, std::string description)
      : std::runtime_error(description),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)) {}

  int Number() const { return number_; }
  const std::string& Source() const { return source_; }
  const std::string& Description() const { return description_; }

 private:
  int number_;
  std::string source_;
  std::string description_;
};

// The common errors with their standard descriptions; `source` names who raises them (the
// control raises its own under its name).
inline RuntimeError OverflowError(std::string source) {
  return {kErrOverflow, std::move(source), "Overflow"};
}
inline RuntimeError SubscriptError(std::string source) {
  return {kErrSubscriptOutOfRange, std::move(source), "Subscript out of range"};
}
inline RuntimeError TypeMismatchError(std::string source) {
  return {kErrTypeMismatch, std::move(source), "Type mismatch"};
}

}  // namespace velmora::platform
