// Uniform sampling of starting positions within the bounds of a search, per element kind.
#pragma once

#include <vector>

#include "prelude/rng.hpp"
#include "prelude/x_vec.hpp"

namespace swarmtuner {

class XVecSampler {
 public:
  // Builds one span record per dimension (the shorter of each kind's two lists), kind by kind
  // and index by index; the first bad pair throws InternalFailure with its kind's message.
  XVecSampler(XVec lower, XVec upper);

  // A new point: per kind as many components as records, drawn in kind then index order.
  XVec sample(ChaChaRng& rng) const;

  // (span record types and lists are private details of sampler.cpp)
};

}  // namespace swarmtuner
