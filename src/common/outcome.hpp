// Result types shared by every function body. Bodies never see a Python
// object: they take native values and return a value or an error value, and
// the binding layer alone turns either into Python objects.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace vexa {

// What the binding layer raises for an error value: the Python exception
// class named, or, for `interrupted`, the exception the interpreter's signal
// handlers left pending when the body asked whether to go on.
enum class ErrorKind { value_error, os_error, memory_error, interrupted };

struct BodyError {
  ErrorKind kind;
  std::string message;
};

template <class T> using Outcome = std::expected<T, BodyError>;

inline std::unexpected<BodyError> value_error(std::string message) {
  return std::unexpected(BodyError{ErrorKind::value_error, std::move(message)});
}

inline std::unexpected<BodyError> interrupted() {
  return std::unexpected(BodyError{ErrorKind::interrupted, {}});
}

} // namespace vexa
