// The four submodules of kelo.ext, each built fresh on import (new
// references).
#pragma once

#include "toolkit/python.h"

namespace kelo::py {

PyObject* create_data_module();
PyObject* create_graph_module();
PyObject* create_provider_module();
PyObject* create_execution_module();

}  // namespace kelo::py
