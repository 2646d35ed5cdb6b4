#pragma once
// The run-time error type shared by the control and the platform stand-ins.
//
// A few failures travel as errors rather than results: the GIF reader's "End of File" (caught
// inside the parser), arithmetic overflow, a subscript out of range, a value of the wrong type
// read from a property bag. Each carries the number, source and description a caller can show.

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

// Convenience constructors for the errors the control raises itself.
inline RuntimeError OverflowError(std::string source = "ucAniGIF") {
  return {kErrOverflow, std::move(source), "Overflow"};
}
inline RuntimeError SubscriptError(std::string source = "ucAniGIF") {
  return {kErrSubscriptOutOfRange, std::move(source), "Subscript out of range"};
}
inline RuntimeError TypeMismatchError(std::string source = "ucAniGIF") {
  return {kErrTypeMismatch, std::move(source), "Type mismatch"};
}

}  // namespace velmora::platform
