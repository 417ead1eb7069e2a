// Graph elements.
#pragma once

#include "data/id.h"

namespace kelo_core::graph {

using ElementId = data::Id<struct ElementTag>;

}  // namespace kelo_core::graph
