// Argument matching against parameter tables, with the interpreter's wording for every mistake.
#include "args.hpp"

#include <string>
#include <vector>

namespace swarmtuner {
namespace {

// The name as it appears in a message, even when it holds characters UTF-8 cannot carry.
std::string display_name(PyObject* name) {
  if (PyUnicode_Check(name)) return to_utf8_lossy(name);
  PyRef text = PyRef::steal(PyObject_Str(name));
  if (!text) {
    PyErr_Clear();
    return "<unprintable object>";
  }
  return to_utf8_lossy(text.get());
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_list(std::span<const char* const> names) {
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
    raise(PyExc_TypeError, std::string(full_name_) + " takes from " + std::to_string(required_) +
                               " to " + std::to_string(names_.size()) +
                               " positional arguments but " + std::to_string(nargs) + " " +
                               (nargs == 1 ? "was" : "were") + " given");
  }
  for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = i < nargs ? args[i] : nullptr;
}

void ParameterTable::match_keyword(PyObject* name, PyObject* value,
                                   std::span<PyObject*> slots) const {
  const std::size_t index = find(name);
  if (index == names_.size()) {
    if (PyUnicode_Check(name)) {
      // The name itself goes into the message, even with characters UTF-8 cannot carry.
      const PyRef function = check(PyUnicode_FromStringAndSize(
          full_name_.data(), static_cast<Py_ssize_t>(full_name_.size())));
      PyRef text = check(PyUnicode_FromFormat("%U got an unexpected keyword argument '%U'",
                                              function.get(), name));
      throw PythonError(PyRef::borrow(PyExc_TypeError), std::move(text), PyRef());
    }
    raise(PyExc_TypeError, std::string(full_name_) + " got an unexpected keyword argument '" +
                               display_name(name) + "'");
  }
  if (slots[index] != nullptr) {
    raise(PyExc_TypeError,
          std::string(full_name_) + " got multiple values for argument '" + names_[index] + "'");
  }
  slots[index] = value;
}

void ParameterTable::check_required(std::span<PyObject* const> slots) const {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < required_; ++i) {
    if (slots[i] == nullptr) missing.push_back(names_[i]);
  }
  if (missing.empty()) return;
  raise(PyExc_TypeError, std::string(full_name_) + " missing " + std::to_string(missing.size()) +
                             " required positional argument" + (missing.size() == 1 ? "" : "s") +
                             ": " + quoted_list(missing));
}

std::size_t ParameterTable::find(PyObject* name) const {
  // Keyword names in calls are nearly always interned by the compiler, so identity usually
  // decides; the comparison by value covers names built at run time.
  const std::span<PyObject* const> interned_names = interned();
  for (std::size_t i = 0; i < interned_names.size(); ++i) {
    if (interned_names[i] == name) return i;
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

std::span<PyObject* const> ParameterTable::interned() const {
  if (interned_.empty()) {
    std::vector<PyRef> names;
    names.reserve(names_.size());
    for (const char* text : names_) names.push_back(check(PyUnicode_InternFromString(text)));
    auto* storage = new PyObject*[names.size()];
    for (std::size_t i = 0; i < names.size(); ++i) storage[i] = names[i].release();
    interned_ = std::span<PyObject*>(storage, names.size());
  }
  return interned_;
}

PythonError argument_error(PythonError error, const char* name) {
  error.normalize();
  if (error.type() != PyExc_TypeError) return error;
  std::string text = std::string("argument '") + name + "': ";
  if (PyRef original = PyRef::steal(PyObject_Str(error.value()))) {
    text += to_utf8_lossy(original.get());
  } else {
    PyErr_WriteUnraisable(error.value());
    text += "<unprintable TypeError object>";
  }
  PyRef message =
      check(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  PyRef replacement = check(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  // Setting the cause (even to nothing) also suppresses the context, as `raise ... from` does.
  PyException_SetCause(replacement.get(), PyException_GetCause(error.value()));
  return PythonError(PyRef::borrow(PyExc_TypeError), std::move(replacement), PyRef());
}

}  // namespace swarmtuner
