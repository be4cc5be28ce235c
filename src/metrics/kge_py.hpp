// Python function calculate_kge.
#pragma once

#include "ref.hpp"

namespace hydrokit::py {

extern PyMethodDef calculate_kge_function;

}  // namespace hydrokit::py
