// Conversion of one bound argument to its native kind. Each returns false
// with the interpreter's error set; the caller names the parameter.
#pragma once

#include <cstdint>
#include <string_view>

#include "binding/python.hpp"
#include "common/types.hpp"

namespace vexa::binding {

// Borrows the UTF-8 form of a str; valid while the object lives.
bool convert_text(PyObject* object, std::string_view& out);

bool convert_float(PyObject* object, double& out);

bool convert_count(PyObject* object, std::uint64_t& out);

bool convert_float_array(PyObject* object, FloatArray& out);

} // namespace vexa::binding
