// A Python-visible function declared once: its name, its parameters as the
// text signature lists them, its documentation and its body. Parameter kinds
// and the result form follow from the body's C++ signature.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/arguments.hpp"
#include "binding/bind.hpp"
#include "binding/errors.hpp"
#include "binding/python.hpp"
#include "binding/results.hpp"

namespace vexa::binding {

template <auto Body> struct BodyShape;

template <class Result, class... Params, Result (*Body)(Params...)> struct BodyShape<Body> {
  static constexpr std::size_t arity = sizeof...(Params);
  using Natives = std::tuple<std::remove_cvref_t<Params>...>;
};

// One conversion per native kind.
inline bool convert(PyObject* object, std::string_view& out) {
  return convert_text(object, out);
}
inline bool convert(PyObject* object, double& out) {
  return convert_float(object, out);
}
inline bool convert(PyObject* object, std::uint64_t& out) {
  return convert_count(object, out);
}
inline bool convert(PyObject* object, FloatArray& out) {
  return convert_float_array(object, out);
}

// What a declaration says besides its body: the name, the parameters as the
// text signature lists them, and the documentation. Both modules' function
// kinds share it.
template <std::size_t Arity> struct Signature {
  std::string_view name;
  std::string_view parameter_list; // as in the text signature: "a, b, c"
  std::string_view documentation;  // what follows the signature block
  std::array<std::string_view, Arity> parameters{};

  consteval Signature(std::string_view name_, std::string_view parameter_list_,
                      std::string_view documentation_)
      : name(name_), parameter_list(parameter_list_), documentation(documentation_) {
    std::size_t count = 0;
    std::string_view rest = parameter_list;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(", ");
      if (count == Arity) throw "more parameter names than the body takes";
      parameters[count++] = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 2);
    }
    if (count != Arity) throw "fewer parameter names than the body takes";
  }

  // "{name}({parameters})\n--\n\n{documentation}": the interpreter takes the
  // signature block off __doc__ and serves it as __text_signature__.
  std::string docstring() const {
    return std::string(name)
        .append("(")
        .append(parameter_list)
        .append(")\n--\n\n")
        .append(documentation);
  }
};

template <auto Body> struct Function : Signature<BodyShape<Body>::arity> {
  static constexpr std::size_t arity = BodyShape<Body>::arity;
  using Signature<arity>::Signature;

  // Bind, convert in parameter order, run the body, convert its outcome.
  PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const noexcept {
    try {
      std::array<PyObject*, arity> slots{};
      const FunctionDescription description{this->name, this->parameters, 0, arity, {}};
      if (!bind(description, args, nargs, kwnames, slots.data())) return nullptr;
      typename BodyShape<Body>::Natives natives;
      if (!convert_all(slots, natives, std::make_index_sequence<arity>{})) return nullptr;
      return to_python(std::apply(Body, std::move(natives)));
    } catch (const std::bad_alloc&) {
      return PyErr_NoMemory();
    } catch (const std::exception& failure) {
      raise_panic(failure.what());
    } catch (...) {
      raise_panic(nullptr);
    }
    return nullptr;
  }

private:
  template <std::size_t... I>
  bool convert_all(const std::array<PyObject*, arity>& slots,
                   typename BodyShape<Body>::Natives& natives, std::index_sequence<I...>) const {
    return ([&] {
      if (convert(slots[I], std::get<I>(natives))) return true;
      note_parameter(this->parameters[I]);
      return false;
    }() && ...);
  }
};

// The vector-call entry of row I of a table of Functions.
template <const auto& Table, std::size_t I>
PyObject* entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return std::get<I>(Table).call(args, nargs, kwnames);
}

// The method definitions of a whole table, with their docstrings, built once
// and kept for the life of the process.
template <const auto& Table> class MethodDefinitions {
public:
  static constexpr std::size_t size = std::tuple_size_v<std::remove_cvref_t<decltype(Table)>>;

  static MethodDefinitions& instance() {
    static MethodDefinitions definitions(std::make_index_sequence<size>{});
    return definitions;
  }

  PyMethodDef& operator[](std::size_t i) { return definitions_[i]; }

private:
  template <std::size_t... I> explicit MethodDefinitions(std::index_sequence<I...>) {
    ((docstrings_[I] = std::get<I>(Table).docstring()), ...);
    ((definitions_[I] =
          PyMethodDef{std::get<I>(Table).name.data(), _PyCFunction_CAST((&entry<Table, I>)),
                      METH_FASTCALL | METH_KEYWORDS, docstrings_[I].c_str()}),
     ...);
  }

  std::array<std::string, size> docstrings_;
  std::array<PyMethodDef, size> definitions_{};
};

} // namespace vexa::binding
