// The topics of kelo._native, one file each. A topic adds its functions to
// the module's list; it declares its function here, e.g.
//   void add_columns_functions(std::vector<FunctionSpec>& functions);
// and native.cpp lists it in kTopics. The classes its functions take and
// return are kelo.ext's own: both modules are one binary.
#pragma once

#include <vector>

#include "toolkit/class.h"

namespace kelo::py {

// The record codec (records.cpp).
void add_records_functions(std::vector<FunctionSpec>& functions);
// Columnar views and bulk appends (columns.cpp).
void add_columns_functions(std::vector<FunctionSpec>& functions);

// contracts.cpp: execution contracts field by field.
void add_contract_functions(std::vector<FunctionSpec>& functions);

// runtime.cpp: running plans; adds its functions and classes to the module.
bool add_runtime(PyObject* module);

// pipelines.cpp: contracts with constraints, provider selection explained.
void add_pipeline_functions(std::vector<FunctionSpec>& functions);

}  // namespace kelo::py
