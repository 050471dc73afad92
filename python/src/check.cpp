// Checking documents: the checking library (qal3_check.h) over the paths
// and texts given from Python, run with the GIL released. The findings and
// documents come back as tuples, which qal3._check makes into its records.
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common.h"
#include "document_text.h"
#include "qal3_check.h"

namespace qal3py {
namespace {

struct FreeChecker {
  void operator()(qal3_checker* c) const { qal3_check_free(c); }
};

// What a check is asked, converted while the GIL is held.
struct Request {
  bool strict = false;
  unsigned long long max_bytes = 0;  // 0: the library's limit
  std::vector<std::string> known, exclude, paths;
  std::vector<std::pair<std::string, std::string>> texts;  // (name, document bytes)
};

// A document and a finding, copied out of the checker.
struct Document {
  std::string label, root, reason;
  int family = 0, state = 0;
};
struct Found {
  std::string file, code, message;
  long long line = 0, column = 0;
  int severity = 0;
  bool across = false;
};
struct Outcome {
  std::vector<Document> documents;
  std::vector<Found> findings;
};

// The bytes of a document given as text: a str as its UTF-8 encoding with a
// declaration that says so (positions unchanged), bytes or any contiguous
// buffer as they are (copied: the GIL is released while they are checked).
std::string document_bytes(py::handle value) {
  if (PyUnicode_Check(value.ptr())) {
    std::string doc = text_of(value, "text");
    declare_utf8(doc);
    return doc;
  }
  if (!PyObject_CheckBuffer(value.ptr()))
    throw py::type_error("text must be a str or bytes, not " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
  PyObject* b = PyBytes_FromObject(value.ptr());
  if (!b) throw py::error_already_set();
  return std::string(py::reinterpret_steal<py::bytes>(b));
}

// Checks what `r` asks in one checker; the GIL must be released. Throws
// std::bad_alloc when memory runs out.
Outcome run(const Request& r) {
  const std::unique_ptr<qal3_checker, FreeChecker> owner(qal3_check_new());
  qal3_checker* c = owner.get();
  if (!c) throw std::bad_alloc();
  qal3_check_set_strict(c, r.strict);
  if (r.max_bytes) qal3_check_set_max_bytes(c, r.max_bytes);
  for (const std::string& k : r.known) qal3_check_know(c, k.c_str());
  for (const std::string& g : r.exclude) qal3_check_exclude(c, g.c_str());
  for (const std::string& p : r.paths) {
    // A folder, else a file (one that cannot be read is a document too).
    if (qal3_check_folder(c, p.c_str()) < 0 && qal3_check_file(c, p.c_str()) < 0) throw std::bad_alloc();
  }
  for (const auto& t : r.texts)
    if (qal3_check_text(c, t.first.c_str(), t.second.data(), t.second.size()) < 0) throw std::bad_alloc();
  Outcome o;
  for (std::size_t i = 0, n = qal3_check_document_count(c); i < n; ++i) {
    const qal3_check_document& d = *qal3_check_document_at(c, i);
    o.documents.push_back({d.name, d.root, d.reason, static_cast<int>(d.family), static_cast<int>(d.state)});
  }
  for (std::size_t i = 0, n = qal3_check_finding_count(c); i < n; ++i) {
    const qal3_check_finding& f = *qal3_check_finding_at(c, i);
    o.findings.push_back({f.file, f.code, f.message, f.line, f.column, static_cast<int>(f.severity), f.across != 0});
  }
  return o;
}

// check(paths, texts, strict, max_bytes, known, exclude): (documents,
// findings), each a list of tuples in the checker's order.
py::tuple check(const py::list& paths, const py::list& texts, bool strict, py::handle max_bytes, const py::list& known,
                const py::list& exclude) {
  Request r;
  r.strict = strict;
  if (!max_bytes.is_none()) r.max_bytes = static_cast<unsigned long long>(int_in(max_bytes, 1, INT64_MAX, "max_bytes"));
  for (py::handle k : known) {
    r.known.push_back(c_text(k, "known"));
    if (r.known.back().empty()) throw py::value_error("known names must not be empty");
  }
  for (py::handle g : exclude) r.exclude.push_back(c_text(g, "exclude"));
  for (py::handle p : paths) r.paths.push_back(path_of(p));
  for (py::handle t : texts) {
    if (!PyTuple_Check(t.ptr()) || PyTuple_GET_SIZE(t.ptr()) != 2)
      throw py::type_error("texts are (label, text) pairs");
    const py::tuple pair = py::reinterpret_borrow<py::tuple>(t);
    r.texts.emplace_back(c_text(pair[0], "text name"), document_bytes(pair[1]));
  }
  Outcome o;
  {
    const py::gil_scoped_release nogil;
    o = run(r);
  }
  py::list documents, findings;
  for (const Document& d : o.documents)
    documents.append(py::make_tuple(to_py(d.label), d.family, d.state, to_py(d.root), to_py(d.reason)));
  for (const Found& f : o.findings)
    findings.append(
        py::make_tuple(to_py(f.file), f.line, f.column, f.severity, to_py(f.code), to_py(f.message), f.across));
  return py::make_tuple(documents, findings);
}

// The line `qal3 check` prints for a finding (qal3_check_format).
py::str format(py::handle file, long long line, long long column, int severity, py::handle message) {
  const std::string f = text_of(file, "document"), m = text_of(message, "message");
  qal3_check_finding finding{};
  finding.file = f.c_str();
  finding.line = line;
  finding.column = column;
  finding.severity = severity == QAL3_CHECK_WARNING ? QAL3_CHECK_WARNING : QAL3_CHECK_ERROR;
  finding.message = m.c_str();
  std::string out;
  {
    const py::gil_scoped_release nogil;
    out.assign(qal3_check_format(&finding, nullptr, 0), '\0');
    qal3_check_format(&finding, &out[0], out.size() + 1);
  }
  return to_py(out);
}

}  // namespace

void bind_check(py::module_& m) {
  py::dict severities, states;
  severities["WARNING"] = int{QAL3_CHECK_WARNING};
  severities["ERROR"] = int{QAL3_CHECK_ERROR};
  states["CHECKED"] = int{QAL3_CHECK_CHECKED};
  states["UNREADABLE"] = int{QAL3_CHECK_UNREADABLE};
  states["TOO_LARGE"] = int{QAL3_CHECK_TOO_LARGE};
  states["SKIPPED"] = int{QAL3_CHECK_SKIPPED};
  states["UNREADABLE_FOLDER"] = int{QAL3_CHECK_UNREADABLE_FOLDER};
  m.attr("_CHECK_SEVERITIES") = severities;
  m.attr("_CHECK_STATES") = states;
  m.def("_check", &check, py::arg("paths"), py::arg("texts"), py::arg("strict"), py::arg("max_bytes"), py::arg("known"),
        py::arg("exclude"),
        "Checks the files and folders `paths`, then the (label, text) pairs `texts`, together in one checker; "
        "returns (documents, findings) as tuples (see qal3.check).");
  m.def("_check_format", &format, py::arg("document"), py::arg("line"), py::arg("column"), py::arg("severity"),
        py::arg("message"), "The line qal3 check prints for a finding.");
}

}  // namespace qal3py
