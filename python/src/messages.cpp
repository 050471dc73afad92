#include "messages.h"

#include <exception>

namespace qal3py {

MessageLog::MessageLog(Keep keep) : keep_(keep), guard_(&MessageLog::take, this) {}

void MessageLog::take(const qal3_message* m, void* self) {
  try {
    static_cast<MessageLog*>(self)->add(*m);
  } catch (const std::exception&) {
    // Out of memory: the line is lost, the call goes on.
  }
}

void MessageLog::add(const qal3_message& m) {
  const bool problem = m.kind != QAL3_MESSAGE_INFO && m.kind != QAL3_MESSAGE_LISTING;
  if (keep_ == Keep::problems) {
    if (!problem) return;
    for (const Message& seen : lines_)
      if (seen.kind == m.kind && seen.text.compare(0, std::string::npos, m.text, m.length) == 0) return;
  }
  Message out;
  out.stream = m.stream;
  out.kind = m.kind;
  out.has_document = m.document != nullptr;
  if (m.document) out.document = m.document;
  out.line = m.line;
  out.column = m.column;
  out.text.assign(m.text, m.length);
  lines_.push_back(std::move(out));
}

py::list MessageLog::records(py::handle memory_name) const {
  static const char* const kStreams[] = {"", "stdout", "stderr"};
  static const char* const kKinds[] = {"listing",        "info",         "error",
                                       "parser warning", "parser error", "parser fatal error"};
  const py::object cls = qal3py::records().attr("Message");
  py::list out;
  for (const Message& m : lines_) {
    py::object document = py::reinterpret_borrow<py::object>(memory_name);
    if (m.has_document) {
      const auto renamed = renames_.find(m.document);
      document = renamed != renames_.end() ? py::object(to_py(renamed->second)) : py::object(to_py(m.document));
    }
    const char* stream = m.stream == QAL3_MESSAGE_STDOUT ? kStreams[1] : kStreams[2];
    // A reader's note (a text cut, a name read as the default, a record
    // dropped or merged, a field not kept) is a warning.
    const char* kind = m.kind >= 0 && m.kind <= QAL3_MESSAGE_PARSER_FATAL ? kKinds[m.kind]
                       : m.kind == QAL3_MESSAGE_READER_NOTE               ? "warning"
                                                                          : "info";
    out.append(cls(stream, kind, document, m.line, m.column, to_py(m.text)));
  }
  return out;
}

void raise_error(const std::string& what, int code, const py::list& messages, py::handle source, bool missing) {
  const py::object cls = qal3py::records().attr(missing ? "FileNotFound" : "Error");
  const py::object exc = cls(to_py(what), code, messages, source);
  PyErr_SetObject(cls.ptr(), exc.ptr());
  throw py::error_already_set();
}

void warn_messages(const py::list& messages) {
  if (messages.empty()) return;
  const py::object warn = qal3py::records().attr("warn");
  for (py::handle m : messages) warn(m);
}

void warn(const std::string& text, py::handle document) {
  const py::object message = qal3py::records().attr("Message")("stderr", "warning", document, 0, 0, to_py(text));
  qal3py::records().attr("warn")(message);
}

}  // namespace qal3py
