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

template <auto Body> struct ReleasedFunction : binding::Signature<binding::BodyShape<Body>::arity> {
  static constexpr std::size_t arity = binding::BodyShape<Body>::arity;
  using binding::Signature<arity>::Signature;

  PyObject* call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const noexcept {
    try {
      std::array<PyObject*, arity> given{};
      const binding::FunctionDescription description{this->name, this->parameters, 0, arity, {}};
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
      binding::note_parameter(this->parameters[I]);
      return false;
    }() && ...);
  }
};

} // namespace vexa::arrays
