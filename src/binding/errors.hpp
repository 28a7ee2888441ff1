// Raising exceptions: messages built here, error values from the bodies, and
// internal failures.
#pragma once

#include <string_view>

#include "binding/python.hpp"
#include "common/outcome.hpp"

namespace vexa::binding {

// Makes the exception current by calling the class with the message as its
// only argument.
void raise_message(PyObject* exception_class, std::string_view message);

// TypeError "'{type}' object is not an instance of '{target}'".
void raise_wrong_type(PyObject* given, const char* target);

// Adds the note "while processing '{parameter}'" to the current exception;
// a failure to add it is ignored.
void note_parameter(std::string_view parameter);

void raise_body_error(const BodyError& error);

// PanicException, for a body that broke one of its own invariants. A null
// message stands for a failure that carried none.
void raise_panic(const char* message);

// The PanicException class (borrowed), or null with an error set.
PyObject* panic_exception_class();

} // namespace vexa::binding
