// Python function hydrokit.rainfall_transform.run_clark_uh.
#pragma once

#include "ref.hpp"

namespace hydrokit::py {

extern PyMethodDef run_clark_uh_function;

}  // namespace hydrokit::py
