// The topics of kelo._native, one file each. A topic adds its functions to
// the module's list and adopts, from kelo.ext (the module object), the
// classes its functions take or return; it declares its pair here, e.g.
//   void add_columns_functions(std::vector<FunctionSpec>& functions);
//   bool adopt_columns_classes(PyObject* ext);
// and native.cpp lists it in kTopics.
#pragma once

#include <vector>

#include "toolkit/adopt.h"
#include "toolkit/class.h"

namespace kelo::py {

// A kelo.ext submodule by name ("data", "graph", ...); a new reference.
PyObject* ext_submodule(PyObject* ext, const char* name);

// The record codec (records.cpp).
void add_records_functions(std::vector<FunctionSpec>& functions);
bool adopt_records_classes(PyObject* ext);
// Columnar views and bulk appends (columns.cpp).
void add_columns_functions(std::vector<FunctionSpec>& functions);
bool adopt_columns_classes(PyObject* ext);

struct NativeTopic {
  void (*add_functions)(std::vector<FunctionSpec>& functions);
  bool (*adopt_classes)(PyObject* ext);
};

// contracts.cpp: execution contracts field by field.
void add_contract_functions(std::vector<FunctionSpec>& functions);
bool adopt_contract_classes(PyObject* ext);

// runtime.cpp: running plans; adds its functions and classes to the module.
bool add_runtime(PyObject* module);

// pipelines.cpp: contracts with constraints, provider selection explained.
void add_pipeline_functions(std::vector<FunctionSpec>& functions);
bool adopt_pipeline_classes(PyObject* ext);

}  // namespace kelo::py
