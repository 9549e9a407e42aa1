// Uniform sampling of starting positions within the bounds of a search, per element kind.
#pragma once

#include <memory>
#include <vector>

#include "numeric_core/rng.hpp"
#include "numeric_core/x_vec.hpp"

namespace swarmtuner {

class XVecSampler {
 public:
  // Builds one span record per dimension (the shorter of each kind's two lists), kind by kind
  // and index by index; the first bad pair throws InternalFailure with its kind's message.
  XVecSampler(XVec lower, XVec upper);
  XVecSampler(XVecSampler&&) noexcept;
  XVecSampler& operator=(XVecSampler&&) noexcept;
  ~XVecSampler();

  // A new point: per kind as many components as records, drawn in kind then index order.
  XVec sample(ChaChaRng& rng) const;

 private:
  // One list of span records per kind; the record types are details of sampler.cpp.
  struct Spans;
  std::unique_ptr<const Spans> spans_;
};

// The scale of a float span over [low, high) with low < high and high - low finite: the
// largest s in [0, high - low] with s * m + low < high in the type's own arithmetic, where m is
// the largest unit draw (1 - 2^-52 or 1 - 2^-23), so that no draw reaches high.
double uniform_float_scale(double low, double high) noexcept;
float uniform_float_scale(float low, float high) noexcept;

}  // namespace swarmtuner
