// Argument matching for the constructor and the methods: parameter tables and their error texts.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "python_layer/boundary.hpp"

namespace swarmtuner {

// The parameters of one callable: names in order, the leading `required` ones without a
// default. Every parameter may be given by position or by keyword. The tables are made with the
// module state and live as long as the process; their names are interned when they are made.
class ParameterTable {
 public:
  // Throws PythonError when a name cannot be interned.
  ParameterTable(std::string full_name, std::vector<std::string> names, std::size_t required);

  std::size_t size() const noexcept { return names_.size(); }
  const std::string& name(std::size_t index) const noexcept { return names_[index]; }

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

  std::string full_name_;
  std::vector<std::string> names_;
  std::vector<PyRef> interned_;  // names_, interned, in the same order
  std::size_t required_;
};

// A PythonError raised while converting the argument `name`: a TypeError (the class itself,
// not a subclass) becomes TypeError "argument 'name': <text>" keeping the original's cause;
// anything else is returned unchanged.
PythonError argument_error(PythonError error, const std::string& name);

// Runs convert(); a PythonError it throws is passed through argument_error for `name`.
template <class Convert>
auto convert_argument(const std::string& name, Convert&& convert) {
  try {
    return std::forward<Convert>(convert)();
  } catch (PythonError& error) {
    throw argument_error(std::move(error), name);
  }
}

}  // namespace swarmtuner
