// Argument matching for the constructor and the methods: parameter tables and their error texts.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

#include "boundary.hpp"

namespace swarmtuner {

// The parameters of one callable: names in order, the leading `required` ones without a
// default. Every parameter may be given by position or by keyword. Tables are static and live
// for the whole process; their interned names are created on first use.
class ParameterTable {
 public:
  ParameterTable(std::string_view full_name, std::span<const char* const> names,
                 std::size_t required) noexcept
      : full_name_(full_name), names_(names), required_(required) {}

  std::size_t size() const noexcept { return names_.size(); }
  const char* name(std::size_t index) const noexcept { return names_[index]; }

  // Matches a fast call (positional array, keyword names tuple whose values follow the
  // positional ones in `args`) into `slots`, one borrowed argument or null per parameter.
  void match_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      std::span<PyObject*> slots) const;
  // Matches a classic call: a tuple of positional arguments and a dict of keywords (or null),
  // the dict in call order.
  void match_tuple_dict(PyObject* args, PyObject* kwargs, std::span<PyObject*> slots) const;

 private:
  void match_positional(PyObject* const* args, std::size_t nargs, std::span<PyObject*> slots) const;
  void match_keyword(PyObject* name, PyObject* value, std::span<PyObject*> slots) const;
  void check_required(std::span<PyObject* const> slots) const;
  // Index of the parameter called `name`, or size() when there is none.
  std::size_t find(PyObject* name) const;
  std::span<PyObject* const> interned() const;

  std::string_view full_name_;
  std::span<const char* const> names_;
  std::size_t required_;
  // Interned names, filled on first use and kept (never released) for the life of the process,
  // like the class objects: the interpreter may still call in during its shutdown.
  mutable std::span<PyObject*> interned_;
};

// A PythonError raised while converting the argument `name`: a TypeError (the class itself,
// not a subclass) becomes TypeError "argument 'name': <text>" keeping the original's cause;
// anything else is returned unchanged.
PythonError argument_error(PythonError error, const char* name);

// Runs convert(); a PythonError it throws is passed through argument_error for `name`.
template <class Convert>
auto convert_argument(const char* name, Convert&& convert) {
  try {
    return std::forward<Convert>(convert)();
  } catch (PythonError& error) {
    throw argument_error(std::move(error), name);
  }
}

}  // namespace swarmtuner
