#pragma once

#include <cstdint>

namespace KORVIK {

class GreyfinModel;

/// A number that changes whenever a chip value, the crystal frequency or the
/// crystal tolerance of this model may have changed; what the parameter
/// getters compute from those can be cached against it. Numbers are never
/// reused, not even by a model built where a deleted one was. Any thread.
uint64_t model_revision(const GreyfinModel* model);

} // namespace KORVIK
