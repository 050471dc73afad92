// Editing a document record by record: the record editor of the tool's
// set, add and drop (record_edit.h) over the bytes given from Python, run
// with the GIL released.
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "common.h"
#include "qal3_family.h"
#include "record_edit.h"

namespace qal3py {
namespace {

// The edited document of `data` (named `name`); ValueError with the
// editor's reason, as the tool gives it ("NAME:LINE:COLUMN: reason").
py::bytes edit(const std::string& name, const py::bytes& data, const std::string& action, const std::string& selector,
               const std::vector<std::string>& assignments, bool all, bool old_layout) {
  qal3::edit::Request request;
  if (action == "set")
    request.action = qal3::edit::Action::set;
  else if (action == "add")
    request.action = qal3::edit::Action::add;
  else if (action == "drop")
    request.action = qal3::edit::Action::drop;
  else
    throw py::value_error("action must be 'set', 'add' or 'drop', not '" + action + "'");
  request.selector = selector;
  request.assignments = assignments;
  request.all = all;
  const std::string bytes = data;
  qal3::edit::Outcome out;
  {
    const py::gil_scoped_release nogil;
    const qal3_family family = qal3_family_of_text(bytes.data(), bytes.size(), nullptr);
    out = qal3::edit::edit_document(family, name, bytes, request, old_layout);
  }
  if (!out.error.empty()) {
    std::string where = name;
    if (out.line > 0) where += ":" + std::to_string(out.line) + ":" + std::to_string(out.column);
    throw py::value_error(where + ": " + out.error);
  }
  return py::bytes(out.document);
}

}  // namespace

void bind_edit(py::module_& m) {
  m.def("_edit", &edit, py::arg("file"), py::arg("data"), py::arg("action"), py::arg("selector"),
        py::arg("assignments"), py::arg("all"), py::arg("old_layout"),
        "The document `data` with the edit made (qal3.edit); ValueError when it is refused.");
}

}  // namespace qal3py
