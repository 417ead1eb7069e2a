// Graph ports.
#pragma once

#include "data/id.h"

namespace kelo_core::graph {

using PortId = data::Id<struct PortTag>;

}  // namespace kelo_core::graph
