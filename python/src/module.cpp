// The qal3._core extension: conversions shared by the bindings, the trigger
// registry, and the module definition.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common.h"
#include "document_text.h"
#include "file_replace.h"
#include "qal3_family.h"
#include "qal3_gige_descr.h"
#include "record_conversion.h"
#include "site_functions.h"
#include "trigger_facts.h"
#include "user_case_trigger.h"

namespace qal3py {

py::module_ records() { return py::module_::import("qal3._records"); }

py::str to_py(const char* s, std::size_t n) {
  PyObject* o = PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(n), "surrogateescape");
  if (!o) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}

py::str to_py(const char* s) { return to_py(s ? s : "", s ? std::strlen(s) : 0); }

py::str to_py(const std::string& s) { return to_py(s.data(), s.size()); }

std::string text_of(py::handle value, const char* field) {
  if (!PyUnicode_Check(value.ptr()))
    throw py::type_error(std::string(field) + " must be a str, not " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
  PyObject* b = PyUnicode_AsEncodedString(value.ptr(), "utf-8", "surrogateescape");
  if (!b) throw py::error_already_set();
  const py::bytes bytes = py::reinterpret_steal<py::bytes>(b);
  return std::string(bytes);
}

void refuse_nul(const std::string& s, const char* field) {
  const std::size_t at = s.find('\0');
  if (at != std::string::npos)
    throw py::value_error(std::string(field) + " holds a NUL character (at byte " + std::to_string(at) + ")");
}

std::string c_text(py::handle value, const char* field) {
  std::string s = text_of(value, field);
  refuse_nul(s, field);
  return s;
}

namespace {

// The UTF-16 codec of a document's first bytes, as an XML processor tells
// it (a byte order mark, or "<?" in 16-bit units); nullptr for any other.
const char* utf16_codec(const std::string& doc) {
  if (doc.compare(0, 2, "\xFF\xFE") == 0 || doc.compare(0, 2, "\xFE\xFF") == 0) return "utf-16";
  if (doc.compare(0, 4, std::string("<\0?\0", 4)) == 0) return "utf-16-le";
  if (doc.compare(0, 4, std::string("\0<\0?", 4)) == 0) return "utf-16-be";
  return nullptr;
}

// `doc` as UTF-8 with a declaration that says so.
std::string utf8_document(py::handle text, const char* field) {
  std::string doc = c_text(text, field);
  declare_utf8(doc);
  return doc;
}

}  // namespace

std::string document_of(py::handle value, const char* field) {
  if (PyUnicode_Check(value.ptr())) return utf8_document(value, field);
  std::string doc;
  if (PyBytes_Check(value.ptr())) {
    doc = std::string(py::reinterpret_borrow<py::bytes>(value));
  } else if (PyObject_CheckBuffer(value.ptr())) {
    PyObject* b = PyBytes_FromObject(value.ptr());
    if (!b) throw py::error_already_set();
    doc = std::string(py::reinterpret_steal<py::bytes>(b));
  } else {
    throw py::type_error(std::string(field) + " must be a str or bytes, not " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
  }
  // UTF-16 bytes are read as their text: the memory parser takes bytes of
  // an 8-bit encoding.
  if (const char* codec = utf16_codec(doc)) {
    PyObject* text = PyUnicode_Decode(doc.data(), static_cast<Py_ssize_t>(doc.size()), codec, "strict");
    if (!text) {
      PyErr_Clear();
      throw py::value_error(std::string(field) + ": not " + codec + " text throughout");
    }
    return utf8_document(py::reinterpret_steal<py::str>(text), field);
  }
  refuse_nul(doc, field);
  return doc;
}

std::string text_in(py::handle v, const Bounds& b, std::size_t most, const char* field) {
  const long long least = b.lo == Bounds::kUnset ? 0 : std::max(b.lo, 0LL);
  if (b.hi != Bounds::kUnset) most = std::min(most, static_cast<std::size_t>(std::max(b.hi, 0LL)));
  std::string s = text_of(v, field);
  if (s.size() > most)
    throw py::value_error(std::string(field) + " is " + std::to_string(s.size()) + " bytes long; at most " +
                          std::to_string(most) + " fit");
  if (s.size() < static_cast<unsigned long long>(least))
    throw py::value_error(least == 1 ? std::string(field) + " must not be empty"
                                     : std::string(field) + " is " + std::to_string(s.size()) +
                                           " bytes long; at least " + std::to_string(least) + " are needed");
  refuse_nul(s, field);
  return s;
}

float float_of(py::handle value, const char* field) {
  if (PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()))
    throw py::type_error(std::string(field) + " must be a number, not " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    throw py::type_error(std::string(field) + " must be a number, not " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
  }
  return static_cast<float>(v);
}

long long int_in(py::handle value, long long lo, long long hi, const char* field) {
  if (!PyLong_Check(value.ptr()) && !PyIndex_Check(value.ptr()))
    throw py::type_error(std::string(field) + " must be an int");
  int overflow = 0;
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0 || v < lo || v > hi)
    throw py::value_error(std::string(field) + " must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
  return v;
}

std::string path_of(py::handle path, const char* field) {
  const py::object p = py::module_::import("os").attr("fspath")(path);
  std::string s;
  if (PyBytes_Check(p.ptr())) {
    s = std::string(py::reinterpret_borrow<py::bytes>(p));
  } else {
    PyObject* b = PyUnicode_EncodeFSDefault(p.ptr());
    if (!b) throw py::error_already_set();
    s = std::string(py::reinterpret_steal<py::bytes>(b));
  }
  refuse_nul(s, field);
  return s;
}

namespace {

py::list registry(bool function) {
  const py::module_ r = records();
  py::list out;
  for (int slot = 0; slot < qal3::trigger::kSlots; ++slot) {
    const bool free_slot = qal3::trigger::slot_free(slot, function);
    const char* name = function ? qal3_get_function_string(slot) : qal3_get_operation_string(slot);
    const char* help = function ? qal3_get_function_help(slot) : qal3_get_operation_help(slot);
    out.append(r.attr("RegistryEntry")(slot, to_py(name), to_py(qal3::trigger::bare_help(help, name)), free_slot));
  }
  return out;
}

// The slot of the function registry (`function`) or the operation registry
// named `name`, given to the field `field`: -1 when none is, ValueError when
// the slot is free.
int slot_named(std::string name, bool function, const char* field) {
  const int slot = function ? qal3_get_function_index(&name[0]) : qal3_get_operation_index(&name[0]);
  if (slot >= 0 && qal3::trigger::slot_free(slot, function))
    throw py::value_error(std::string(field) + " '" + name + "' is a free registry slot (" + std::to_string(slot) +
                          "): nothing is registered there");
  return slot;
}

// Puts `data` at `path` whole, as qal3::io::replace_file does, the GIL
// released meanwhile; OSError (its subclass for the error number) on
// failure.
void replace_file(py::handle path, const py::bytes& data, bool follow_symlinks) {
  const std::string p = path_of(path);
  char* bytes = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(data.ptr(), &bytes, &size) != 0) throw py::error_already_set();
  qal3::io::Outcome o;
  {
    const py::gil_scoped_release nogil;  // `data` is immutable and held by the caller
    o = qal3::io::replace_file(p, bytes, static_cast<std::size_t>(size),
                               follow_symlinks ? qal3::io::Links::follow : qal3::io::Links::replace);
  }
  if (!o.failed()) return;
  const py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(o.error, o.message(), path);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

// The slot `slot` gives: a number as it is, a name its registry slot (-1
// when none has it).
int slot_number(py::handle slot, bool function) {
  if (!PyUnicode_Check(slot.ptr())) return static_cast<int>(int_in(slot, INT32_MIN, INT32_MAX, "slot"));
  std::string name = c_text(slot, "slot");
  return function ? qal3_get_function_index(&name[0]) : qal3_get_operation_index(&name[0]);
}

// The family of the document in the file `path` (the GIL released while
// it is read); OSError (its subclass for the error number) when the file
// cannot be opened.
qal3_family family_of_file(py::handle path) {
  const std::string p = path_of(path);
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.ptr());
    throw py::error_already_set();
  }
  ::close(fd);
  const py::gil_scoped_release nogil;
  return qal3_family_of_file(p.c_str(), nullptr);
}

// The family of a document held in a str (as the parse_ functions take it)
// or in bytes, which go to the library as they are (UTF-16 included).
qal3_family family_of_document(py::handle text) {
  if (PyUnicode_Check(text.ptr())) {
    const std::string doc = document_of(text);
    return qal3_family_of_text(doc.data(), doc.size(), nullptr);
  }
  if (!PyObject_CheckBuffer(text.ptr()))
    throw py::type_error("text must be a str or bytes, not " +
                         std::string(py::str(py::type::of(text).attr("__name__"))));
  const py::buffer_info b = py::reinterpret_borrow<py::buffer>(text).request();
  if (b.ndim != 1 || b.itemsize != 1 || (b.ndim == 1 && b.strides[0] != 1))
    throw py::type_error("text must be a str or contiguous bytes");
  const py::gil_scoped_release nogil;  // the buffer is held by `b`
  return qal3_family_of_text(static_cast<const char*>(b.ptr), static_cast<std::size_t>(b.size), nullptr);
}

}  // namespace

int slot_of(py::handle v, bool function, const char* registry, long long lo, long long hi) {
  if (PyUnicode_Check(v.ptr())) {
    const std::string name = c_text(v, registry);
    const int slot = slot_named(name, function, registry);
    if (slot < 0) throw py::value_error("no " + std::string(registry) + " named '" + name + "' in the registry");
    if (slot < lo || slot > hi)
      throw py::value_error(std::string(registry) + " must lie in " + std::to_string(lo) + ".." + std::to_string(hi));
    return slot;
  }
  const int slot = static_cast<int>(int_in(v, lo, hi, registry));
  if (qal3::trigger::slot_free(slot, function))
    throw py::value_error(std::string(registry) + " " + std::to_string(slot) +
                          " is a free registry slot: nothing is registered there");
  return slot;
}

}  // namespace qal3py

PYBIND11_MODULE(_core, m) {
  using namespace qal3py;
  m.doc() = "Configuration documents and trigger replay of the QAL3 DAQ libraries";

  m.attr("__version__") = QAL3_VERSION;
  py::tuple feature_types(static_cast<std::size_t>(FEATURE_TYPE_MAX));
  for (int i = 0; i < FEATURE_TYPE_MAX; ++i) feature_types[i] = to_py(FeatureTags[i]);
  m.attr("FEATURE_TYPES") = feature_types;
  const std::string slots = "The " + std::to_string(qal3::trigger::kSlots);
  static const std::string functions_doc =
      slots +
      " function slots of the trigger registry: RegistryEntry(slot, name, help, free); "
      "free slots hold no function.";
  static const std::string operations_doc =
      slots + " operation slots of the trigger registry, as functions() lists the function slots.";
  m.def(
      "functions", [] { return registry(true); }, functions_doc.c_str());
  m.def(
      "operations", [] { return registry(false); }, operations_doc.c_str());
  m.def(
      "function_index",
      [](std::string name) {
        refuse_nul(name, "name");
        return qal3_get_function_index(&name[0]);
      },
      py::arg("name"), "Lowest function slot named `name`; -1 if none.");
  m.def(
      "operation_index",
      [](std::string name) {
        refuse_nul(name, "name");
        return qal3_get_operation_index(&name[0]);
      },
      py::arg("name"), "Lowest operation slot named `name`; -1 if none.");
  static const std::string function_name_doc =
      "Name of function slot `slot` (a number, or a name as records hold it); \"UNKNOWN\" outside 0.." +
      std::to_string(qal3::trigger::kSlots - 1) + ".";
  m.def(
      "function_name", [](py::handle slot) { return to_py(qal3_get_function_string(slot_number(slot, true))); },
      py::arg("slot"), function_name_doc.c_str());
  m.def(
      "operation_name", [](py::handle slot) { return to_py(qal3_get_operation_string(slot_number(slot, false))); },
      py::arg("slot"), "Name of operation slot `slot`, as function_name() names function slots.");
  m.def(
      "_refuse_free_slot",
      [](py::handle name, bool function, const std::string& field) {
        slot_named(c_text(name, field.c_str()), function, field.c_str());
      },
      py::arg("name"), py::arg("of_functions"), py::arg("field"),
      "ValueError when `name`, given to `field`, names a free slot of the function registry (`of_functions`) or "
      "of the operation registry.");

  m.def("_replace_file", &replace_file, py::arg("path"), py::arg("data"), py::arg("follow_symlinks") = false,
        "Puts the bytes `data` at `path` whole, as the writers' `path` does.");

  // The family numbers of qal3_family.h by name (qal3.Family is made of them).
  py::dict families;
  families["UNKNOWN"] = int{QAL3_FAMILY_UNKNOWN};
  families["EVENT_LIST"] = int{QAL3_FAMILY_EVENT_LIST};
  families["CHAN_DESCRIPTIONS"] = int{QAL3_FAMILY_CHAN_DESCRIPTIONS};
  families["DAQ_VARIABLES"] = int{QAL3_FAMILY_DAQ_VARIABLES};
  families["ENV_DICT"] = int{QAL3_FAMILY_ENV_DICT};
  families["GIGE"] = int{QAL3_FAMILY_GIGE};
  families["TRIGGER_LIST"] = int{QAL3_FAMILY_TRIGGER_LIST};
  m.attr("_FAMILIES") = families;
  m.def(
      "family_root",
      [](int family) {
        // Within the enum's values only: any other number names no family.
        const char* root = family >= 0 && family <= QAL3_FAMILY_TRIGGER_LIST
                               ? qal3_family_root(static_cast<qal3_family>(family))
                               : nullptr;
        return root ? py::object(to_py(root)) : py::object(py::none());
      },
      py::arg("family"), "The root element of the documents of `family` (a qal3_family number); None for none.");
  m.def(
      "family", [](py::handle path) { return static_cast<int>(family_of_file(path)); }, py::arg("path"),
      "The family (a qal3_family number) of the document in the file `path`, named by its root element as "
      "the readers take it (read only up to the root's start tag); 0 when it is not XML or its root names "
      "no family. OSError when the file cannot be opened.");
  m.def(
      "parse_family", [](py::handle text) { return static_cast<int>(family_of_document(text)); }, py::arg("text"),
      "The family of the document held in `text` (str, or bytes in any encoding the readers take, UTF-16 "
      "included), as family() names it.");

  bind_documents(m);
  bind_replay(m);
  bind_check(m);
  bind_edit(m);
  bind_site_functions(m);
}
