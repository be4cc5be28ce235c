// Python function hydrokit.reach.run_muskingum_routing.
#pragma once

#include "ref.hpp"

namespace hydrokit::py {

extern PyMethodDef run_muskingum_routing_function;

}  // namespace hydrokit::py
