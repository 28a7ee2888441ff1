// Result types shared by every function body. Bodies never see a Python
// object: they take native values and return a value or an error value, and
// the binding layer alone turns either into Python objects.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace vexa {

// The Python exception class a body asks the binding layer to raise.
enum class ErrorKind { value_error, os_error };

struct BodyError {
  ErrorKind kind;
  std::string message;
};

template <class T> using Outcome = std::expected<T, BodyError>;

inline std::unexpected<BodyError> value_error(std::string message) {
  return std::unexpected(BodyError{ErrorKind::value_error, std::move(message)});
}

inline std::unexpected<BodyError> os_error(std::string message) {
  return std::unexpected(BodyError{ErrorKind::os_error, std::move(message)});
}

} // namespace vexa
