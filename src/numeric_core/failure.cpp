// The one function that turns a failed status of the core into its InternalFailure.
#include "numeric_core/failure.hpp"

namespace swarmtuner {

void fail(Status status, std::source_location where) {
  fail(failure_text_of(status), where);
}

}  // namespace swarmtuner
