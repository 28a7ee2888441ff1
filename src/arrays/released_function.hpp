// A function of the array module declared once, as binding::Function does for
// the first module: name, parameters, documentation, body. The difference is
// the call: arguments are converted with the lock held, the body runs
// without it, and its outcome becomes Python objects once the lock is back.
#pragma once

#include <array>
#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "arrays/array_arguments.hpp"
#include "arrays/array_results.hpp"
#include "arrays/released_lock.hpp"
#include "binding/bind.hpp"
#include "binding/errors.hpp"
#include "binding/function.hpp"

namespace vexa::arrays {

template <auto Body> struct SlotsOf;
template <class Result, class... Params, Result (*Body)(Params...)> struct SlotsOf<Body> {
  using type = std::tuple<Slot<std::remove_cvref_t<Params>>...>;
};

template <auto Body> struct ReleasedFunction {
  static constexpr std::size_t arity = binding::BodyShape<Body>::arity;

  std::string_view name;
  std::string_view parameter_list;
  std::string_view documentation;
  std::array<std::string_view, arity> parameters{};

  consteval ReleasedFunction(std::string_view name_, std::string_view parameter_list_,
                             std::string_view documentation_)
      : name(name_), parameter_list(parameter_list_), documentation(documentation_) {
    std::size_t count = 0;
    std::string_view rest = parameter_list;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(", ");
      if (count == arity) throw "more parameter names than the body takes";
      parameters[count++] = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 2);
    }
    if (count != arity) throw "fewer parameter names than the body takes";
  }

  std::string docstring() const {
    return std::string(name)
        .append("(")
        .append(parameter_list)
        .append(")\n--\n\n")
        .append(documentation);
  }

  PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const noexcept {
    try {
      std::array<PyObject*, arity> given{};
      const binding::FunctionDescription description{name, parameters, 0, arity, {}};
      if (!binding::bind(description, args, nargs, kwnames, given.data())) return nullptr;
      typename SlotsOf<Body>::type slots;
      if (!convert_all(given, slots, std::make_index_sequence<arity>{})) return nullptr;
      auto outcome = [&] {
        const LockReleased released;
        return std::apply([](const auto&... slot) { return Body(slot.native()...); }, slots);
      }();
      return to_python(std::move(outcome));
    } catch (const std::bad_alloc&) {
      return PyErr_NoMemory();
    } catch (const std::exception& failure) {
      binding::raise_panic(failure.what());
    } catch (...) {
      binding::raise_panic(nullptr);
    }
    return nullptr;
  }

private:
  template <std::size_t... I>
  bool convert_all(const std::array<PyObject*, arity>& given, typename SlotsOf<Body>::type& slots,
                   std::index_sequence<I...>) const {
    return ([&] {
      if (convert(given[I], std::get<I>(slots))) return true;
      binding::note_parameter(parameters[I]);
      return false;
    }() && ...);
  }
};

} // namespace vexa::arrays
