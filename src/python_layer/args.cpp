// Argument matching against parameter tables, with the interpreter's wording for every mistake.
#include "python_layer/args.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "python_layer/boundary.hpp"

namespace swarmtuner {
namespace {

// The name as it appears in a message, even when it holds characters UTF-8 cannot carry.
std::string display_name(PyObject* name) {
  if (PyUnicode_Check(name)) return utf8_lossy(name);
  PyRef text = PyRef::steal(PyObject_Str(name));
  if (!text) {
    PyErr_Clear();
    return "<unprintable object>";
  }
  return utf8_lossy(text.get());
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_list(std::span<const std::string> names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) {
      if (names.size() > 2) text += ',';
      text += i + 1 == names.size() ? " and " : " ";
    }
    text += '\'';
    text += names[i];
    text += '\'';
  }
  return text;
}

}  // namespace

ParameterTable::ParameterTable(std::string full_name, std::vector<std::string> names,
                               std::size_t required)
    : full_name_(std::move(full_name)), names_(std::move(names)), required_(required) {
  interned_.reserve(names_.size());
  for (const std::string& text : names_) {
    interned_.push_back(steal_or_throw(PyUnicode_InternFromString(text.c_str())));
  }
}

void ParameterTable::match_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                    std::span<PyObject*> slots) const {
  match_positional(args, static_cast<std::size_t>(nargs), slots);
  if (kwnames != nullptr) {
    const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i) {
      match_keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots);
    }
  }
  check_required(slots);
}

void ParameterTable::match_tuple_dict(PyObject* args, PyObject* kwargs,
                                      std::span<PyObject*> slots) const {
  match_positional(PySequence_Fast_ITEMS(args), static_cast<std::size_t>(PyTuple_GET_SIZE(args)),
                   slots);
  if (kwargs != nullptr) {
    // A dict keeps insertion order, which for keyword arguments is call order.
    Py_ssize_t position = 0;
    PyObject *name, *value;
    while (PyDict_Next(kwargs, &position, &name, &value)) match_keyword(name, value, slots);
  }
  check_required(slots);
}

void ParameterTable::match_positional(PyObject* const* args, std::size_t nargs,
                                      std::span<PyObject*> slots) const {
  if (nargs > names_.size()) {
    raise(PyExc_TypeError, full_name_ + " takes from " + std::to_string(required_) + " to " +
                               std::to_string(names_.size()) + " positional arguments but " +
                               std::to_string(nargs) + " " + (nargs == 1 ? "was" : "were") +
                               " given");
  }
  for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = i < nargs ? args[i] : nullptr;
}

void ParameterTable::match_keyword(PyObject* name, PyObject* value,
                                   std::span<PyObject*> slots) const {
  const std::size_t index = find(name);
  if (index == names_.size()) {
    if (PyUnicode_Check(name)) {
      // The name itself goes into the message, even with characters UTF-8 cannot carry.
      const PyRef function = steal_or_throw(PyUnicode_FromStringAndSize(
          full_name_.data(), static_cast<Py_ssize_t>(full_name_.size())));
      PyRef text = steal_or_throw(
          PyUnicode_FromFormat("%U got an unexpected keyword argument '%U'", function.get(), name));
      throw PythonError(PyRef::borrow(PyExc_TypeError), std::move(text), PyRef());
    }
    raise(PyExc_TypeError,
          full_name_ + " got an unexpected keyword argument '" + display_name(name) + "'");
  }
  if (slots[index] != nullptr) {
    raise(PyExc_TypeError,
          full_name_ + " got multiple values for argument '" + names_[index] + "'");
  }
  slots[index] = value;
}

void ParameterTable::check_required(std::span<PyObject* const> slots) const {
  std::vector<std::string> missing;
  for (std::size_t i = 0; i < required_; ++i) {
    if (slots[i] == nullptr) missing.push_back(names_[i]);
  }
  if (missing.empty()) return;
  raise(PyExc_TypeError, full_name_ + " missing " + std::to_string(missing.size()) +
                             " required positional argument" + (missing.size() == 1 ? "" : "s") +
                             ": " + quoted_list(missing));
}

std::size_t ParameterTable::find(PyObject* name) const {
  // Keyword names in calls are nearly always interned by the compiler, so identity usually
  // decides; the comparison by value covers names built at run time.
  for (std::size_t i = 0; i < interned_.size(); ++i) {
    if (interned_[i].get() == name) return i;
  }
  if (!PyUnicode_Check(name)) return names_.size();
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(name, &size);
  if (data == nullptr) {
    // Not encodable as UTF-8 (a lone surrogate): it cannot be one of our names.
    PyErr_Clear();
    return names_.size();
  }
  const std::string_view text(data, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (text == names_[i]) return i;
  }
  return names_.size();
}

PythonError argument_error(PythonError error, const std::string& name) {
  error.normalize();
  if (error.type() != PyExc_TypeError) return error;
  std::string text = "argument '" + name + "': ";
  if (PyRef original = PyRef::steal(PyObject_Str(error.value()))) {
    text += utf8_lossy(original.get());
  } else {
    PyErr_WriteUnraisable(error.value());
    text += "<unprintable TypeError object>";
  }
  PyRef message = steal_or_throw(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  PyRef replacement = steal_or_throw(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  // Setting the cause (even to nothing) also suppresses the context, as `raise ... from` does.
  PyException_SetCause(replacement.get(), PyException_GetCause(error.value()));
  return PythonError(PyRef::borrow(PyExc_TypeError), std::move(replacement), PyRef());
}

}  // namespace swarmtuner
