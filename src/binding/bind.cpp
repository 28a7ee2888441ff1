#include "binding/bind.hpp"

#include <string>
#include <vector>

#include "binding/errors.hpp"

namespace vexa::binding {
namespace {

std::string function_label(const FunctionDescription& d) {
  return std::string(d.function_name).append("()");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_list(const std::vector<std::string_view>& names) {
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list.append(names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", "));
    list.append("'").append(names[i]).append("'");
  }
  return list;
}

bool fail(const std::string& message) {
  raise_message(PyExc_TypeError, message);
  return false;
}

bool fail_missing(const FunctionDescription& d, const std::vector<std::string_view>& names,
                  const char* kind) {
  const std::size_t k = names.size();
  return fail(function_label(d) + " missing " + std::to_string(k) + " required " + kind +
              (k == 1 ? " argument: " : " arguments: ") + quoted_list(names));
}

bool fail_too_many(const FunctionDescription& d, std::size_t n) {
  const std::size_t p = d.parameters.size();
  std::string takes =
      d.required_positional_count == p
          ? std::to_string(p)
          : "from " + std::to_string(d.required_positional_count) + " to " + std::to_string(p);
  return fail(function_label(d) + " takes " + takes + " positional arguments but " +
              std::to_string(n) + (n == 1 ? " was" : " were") + " given");
}

bool fail_multiple(const FunctionDescription& d, std::string_view name) {
  return fail(function_label(d) + " got multiple values for argument '" + std::string(name) + "'");
}

bool fail_unexpected(const FunctionDescription& d, PyObject* keyword) {
  const std::string label = function_label(d);
  Ref message(
      PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'", label.c_str(), keyword));
  if (message) {
    Ref exception(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (exception) PyErr_SetRaisedException(exception.release());
  }
  return false;
}

} // namespace

bool bind(const FunctionDescription& d, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** slots) {
  const std::size_t p = d.parameters.size();
  const auto n = static_cast<std::size_t>(nargs);
  for (std::size_t i = 0; i < n && i < p; ++i)
    slots[i] = args[i];
  if (n > p) return fail_too_many(d, n);

  std::vector<std::string_view> positional_only_by_keyword;
  const Py_ssize_t keyword_count = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t j = 0; j < keyword_count; ++j) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, j);
    PyObject* value = args[nargs + j];
    Py_ssize_t size = 0;
    // A name that cannot be encoded matches no parameter.
    const char* utf8 = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &size) : nullptr;
    if (utf8 == nullptr) {
      PyErr_Clear();
      return fail_unexpected(d, keyword);
    }
    const std::string_view name(utf8, static_cast<std::size_t>(size));

    bool matched = false;
    for (std::size_t k = 0; k < d.keyword_only.size(); ++k) {
      if (d.keyword_only[k].name != name) continue;
      PyObject*& slot = slots[p + k];
      if (slot != nullptr) return fail_multiple(d, name);
      slot = value;
      matched = true;
      break;
    }
    for (std::size_t i = 0; !matched && i < p; ++i) {
      if (d.parameters[i] != name) continue;
      matched = true;
      if (i < d.positional_only_count) {
        positional_only_by_keyword.push_back(name);
      } else if (slots[i] != nullptr) {
        return fail_multiple(d, name);
      } else {
        slots[i] = value;
      }
    }
    if (!matched) return fail_unexpected(d, keyword);
  }

  if (!positional_only_by_keyword.empty())
    return fail(function_label(d) +
                " got some positional-only arguments passed as keyword arguments: " +
                quoted_list(positional_only_by_keyword));

  if (n < d.required_positional_count) {
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < d.required_positional_count; ++i)
      if (slots[i] == nullptr) missing.push_back(d.parameters[i]);
    if (!missing.empty()) return fail_missing(d, missing, "positional");
  }
  std::vector<std::string_view> missing_keywords;
  for (std::size_t k = 0; k < d.keyword_only.size(); ++k)
    if (d.keyword_only[k].required && slots[p + k] == nullptr)
      missing_keywords.push_back(d.keyword_only[k].name);
  if (!missing_keywords.empty()) return fail_missing(d, missing_keywords, "keyword");
  return true;
}

} // namespace vexa::binding
