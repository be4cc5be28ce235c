// Values keyed by a caller's names (outlets, groundwater layers), kept in the caller's order
// so that sums over them and returned dictionaries are the same from run to run.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace hydrokit {

template <class T>
using NamedMap = std::vector<std::pair<std::string, T>>;

}  // namespace hydrokit
