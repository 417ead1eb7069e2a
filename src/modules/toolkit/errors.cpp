#include "toolkit/errors.h"

namespace kelo::py {

constinit thread_local bool t_thread_ready __attribute__((tls_model("initial-exec"))) = false;

void prepare_thread() noexcept {
  // One throw makes all of it: the exception globals and whatever the
  // unwinder sets up on first use.
  try {
    throw t_thread_ready;
  } catch (bool) {
  }
  t_thread_ready = true;
}

PyObject* internal_error_type() {
  // One per process: exception types are shared by every import of kelo.ext.
  // A failed creation leaves its exception set and is retried next time.
  static PyObject* type = nullptr;
  if (!type) {
    type = PyErr_NewExceptionWithDoc("kelo.ext.InternalError",
                                     "An internal failure of kelo.ext: a broken invariant or a failing\n"
                                     "operating-system service.",
                                     PyExc_BaseException, nullptr);
  }
  return type;
}

void raise_internal(const char* message) {
  if (PyObject* type = internal_error_type()) PyErr_SetString(type, message);
}

PyObject* raise(const kelo_core::Error& e) {
  PyObject* type = PyExc_ValueError;
  if (e.kind == kelo_core::Error::Kind::Internal) {
    type = internal_error_type();
    if (!type) return nullptr;
  }
  Ref msg(PyUnicode_FromStringAndSize(e.message.data(), Py_ssize_t(e.message.size())));
  if (msg) PyErr_SetObject(type, msg.get());
  return nullptr;
}

void note_parameter(const char* param) {
// PyErr_Fetch and friends are the 3.11 stable ABI's way to hold an exception.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb && value) PyException_SetTraceback(value, tb);
  Ref note(PyUnicode_FromFormat("while processing '%s'", param));
  static PyObject* add_note = PyUnicode_InternFromString("add_note");
  if (note && value && add_note) {
    Ref r(PyObject_CallMethodObjArgs(value, add_note, note.get(), nullptr));
    if (!r) {
      // A note that cannot be attached must not hide the original error.
      PyErr_Clear();
    }
  } else {
    PyErr_Clear();
  }
  PyErr_Restore(type, value, tb);
#pragma GCC diagnostic pop
}

PyObject* type_name(PyObject* o) { return PyType_GetName(Py_TYPE(o)); }

bool not_an_instance(PyObject* o, const char* expected) {
  if (o == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    return false;
  }
  Ref name(type_name(o));
  if (name) PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), expected);
  return false;
}

}  // namespace kelo::py
