// Turning core failures and conversion failures into Python exceptions.
#pragma once

#include "support/result.h"
#include "toolkit/python.h"

namespace kelo::py {

// The module's internal-failure exception, derived from BaseException: a
// broken invariant or a failing operating-system service. Null, with an
// exception set, when it cannot be made.
PyObject* internal_error_type();
// Raises it with `message` (or the failure to create it).
void raise_internal(const char* message);

// The C++ runtime makes a thread's exception state when the thread first
// throws, and ends the process when it cannot: under memory pressure the
// first bad_alloc of a thread would abort instead of raising MemoryError.
// Every entry from the interpreter (`guarded`) and the module's execution
// step make it beforehand, once per thread, while memory is there. The flag
// sits in the thread's static block (initial-exec), which the thread gets
// with its stack, so reading it never allocates either.
extern constinit thread_local bool t_thread_ready __attribute__((tls_model("initial-exec")));
void prepare_thread() noexcept;
inline void ensure_thread_ready() noexcept {
  if (!t_thread_ready) [[unlikely]] prepare_thread();
}

// Raises the exception that stands for a core failure; returns nullptr.
PyObject* raise(const kelo_core::Error& e);

// Attaches "while processing '<param>'" as a note to the pending exception.
void note_parameter(const char* param);

// The object's type name, as `'int'` in messages (a new reference).
PyObject* type_name(PyObject* o);

// TypeError "'<type>' object is not an instance of '<expected>'", or
// "'None' is not an instance of '<expected>'" for None. Returns false.
bool not_an_instance(PyObject* o, const char* expected);

}  // namespace kelo::py
