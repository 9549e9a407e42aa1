// Internal failures: the errors that end a search, carrying their message and where they arose.
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <utility>

namespace swarmtuner {

// Thrown when the search cannot go on (bad bounds, overflow, an objective that raised).
// It unwinds to the call boundary, which reports it and raises it in Python as PanicException.
class InternalFailure : public std::exception {
 public:
  explicit InternalFailure(std::string message,
                           std::source_location where = std::source_location::current())
      : message_(std::move(message)), where_(where) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;
  std::source_location where_;
};

// Throws an InternalFailure located at the caller.
[[noreturn]] inline void fail(std::string message,
                              std::source_location where = std::source_location::current()) {
  throw InternalFailure(std::move(message), where);
}

}  // namespace swarmtuner
