#include "toolkit/class.h"

namespace kelo::py {

namespace {

std::string_view name_of(std::string_view signature) {
  return signature.substr(0, signature.find('('));
}

// "sig\n--\n\ndoc": the interpreter derives __text_signature__ and __doc__.
std::string doc_with_signature(std::string_view signature, const char* doc) {
  std::string out(signature);
  out += "\n--\n\n";
  if (doc) out += doc;
  return out;
}

}  // namespace

ClassSpec::ClassSpec(std::string_view head, const char* doc, int basicsize, PyTypeObject** cache,
                     const char** name_cache)
    : name_(name_of(head)),
      head_(head),
      basicsize_(basicsize),
      cache_(cache),
      name_cache_(name_cache) {
  bool has_signature = head.find('(') != std::string_view::npos;
  if (has_signature) {
    doc_ = doc_with_signature(head, doc);
  } else if (doc) {
    doc_ = doc;
  }
}

bool ClassSpec::check_count(const Signature& sig, int param_count) {
  if (sig.size() == param_count) return true;
  fail(sig.callable + ": the text signature names " + std::to_string(sig.size()) +
       " parameters, the function takes " + std::to_string(param_count));
  return false;
}

void ClassSpec::add_method(const char* signature, const char* doc, PyCFunction f, int flags,
                           Signature& sig) {
  std::string_view method = name_of(signature);
  std::string callable = name_ + "." + std::string(method);
  // One C++ callable per declared member: its parameter names live with it.
  if (!sig.callable.empty() && sig.callable != callable) {
    fail(callable + " reuses the callable of " + sig.callable);
  } else if (!sig.parse(std::move(callable), signature)) {
    PyErr_Clear();
    fail("bad text signature: " + std::string(signature));
  }
  methods_.push_back({std::string(method), doc_with_signature(signature, doc), f, flags});
}

void ClassSpec::add_init(newfunc f, Signature& sig, int param_count) {
  if (head_.find('(') == std::string::npos) {
    fail(name_ + " has a constructor but no text signature");
    return;
  }
  if (!sig.parse(name_ + ".__new__", head_)) {
    PyErr_Clear();
    fail("bad text signature: " + head_);
  }
  check_count(sig, param_count);
  constructible_ = true;
  add_slot(Py_tp_new, reinterpret_cast<void*>(f));
}

void ClassSpec::add_getter(const char* name, const char* doc, getter f) {
  getters_.push_back({name, doc ? doc : "", f});
}

PyTypeObject* ClassSpec::create() {
  if (*cache_) return *cache_;  // once per process, shared by every import
  if (!error_.empty()) {
    PyErr_Format(PyExc_SystemError, "class %s is declared wrongly: %s", name_.c_str(),
                 error_.c_str());
    return nullptr;
  }
  qualified_ = "builtins." + name_;
  method_defs_.clear();
  for (const auto& m : methods_) {
    method_defs_.push_back({m.name.c_str(), m.function, m.flags, m.doc.c_str()});
  }
  method_defs_.push_back({nullptr, nullptr, 0, nullptr});
  getset_defs_.clear();
  for (const auto& g : getters_) {
    getset_defs_.push_back(
        {g.name.c_str(), g.function, nullptr, g.doc.empty() ? nullptr : g.doc.c_str(), nullptr});
  }
  getset_defs_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});

  std::vector<PyType_Slot> slots = slots_;
  if (!doc_.empty()) slots.push_back({Py_tp_doc, const_cast<char*>(doc_.c_str())});
  slots.push_back({Py_tp_methods, method_defs_.data()});
  slots.push_back({Py_tp_getset, getset_defs_.data()});
  slots.push_back({0, nullptr});

  // Immutable: class attributes can be neither set nor deleted, so no
  // Python code can swap a constructor or a variant under the module.
  unsigned int flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
  if (!constructible_) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  PyType_Spec spec{qualified_.c_str(), basicsize_, 0, flags, slots.data()};
  PyObject* type = PyType_FromSpec(&spec);
  if (!type) return nullptr;
  *cache_ = reinterpret_cast<PyTypeObject*>(type);
  *name_cache_ = name_.c_str();
  if (after_create_ && !after_create_(*cache_, variants_)) return nullptr;
  return *cache_;
}

bool set_class_attribute(PyTypeObject* type, const char* name, PyObject* value) {
  Ref key(PyUnicode_InternFromString(name));
  if (!key) return false;
  auto* t = reinterpret_cast<PyObject*>(type);
  if (PyObject_GenericSetAttr(t, key.get(), value) < 0) return false;
  PyType_Modified(type);  // drops attribute lookups cached before the write
  return true;
}

FunctionSpec::FunctionSpec(const char* signature, const char* doc, PyCFunction f, Signature& sig,
                           int count)
    : name_(name_of(signature)), doc_(doc_with_signature(signature, doc)) {
  def_.ml_meth = f;
  def_.ml_flags = METH_FASTCALL | METH_KEYWORDS;
  if (!sig.parse(name_, signature)) {
    PyErr_Clear();
    error_ = "bad text signature: " + std::string(signature);
  } else if (sig.size() != count) {
    error_ = "the text signature does not match the function's parameters";
  }
}

PyObject* FunctionSpec::create(PyObject* module) {
  if (!error_.empty()) {
    PyErr_Format(PyExc_SystemError, "function %s is declared wrongly: %s", name_.c_str(),
                 error_.c_str());
    return nullptr;
  }
  def_.ml_name = name_.c_str();
  def_.ml_doc = doc_.c_str();
  Ref module_name(PyModule_GetNameObject(module));
  if (!module_name) return nullptr;
  return PyCFunction_NewEx(&def_, nullptr, module_name.get());
}

}  // namespace kelo::py
