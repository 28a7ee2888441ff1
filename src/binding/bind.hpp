// Binding a vector call's arguments to a function's declared parameters.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "binding/python.hpp"

namespace vexa::binding {

struct KeywordOnlyParameter {
  std::string_view name;
  bool required;
};

struct FunctionDescription {
  std::string_view function_name;
  std::span<const std::string_view> parameters; // positional-or-keyword, in order
  std::size_t positional_only_count;
  std::size_t required_positional_count;
  std::span<const KeywordOnlyParameter> keyword_only;
};

// Fills one borrowed slot per parameter (positional ones first, then the
// keyword-only ones); slots not supplied stay null. On failure a TypeError
// is set and false returned.
bool bind(const FunctionDescription& description, PyObject* const* args, Py_ssize_t nargs,
          PyObject* kwnames, PyObject** slots);

} // namespace vexa::binding
