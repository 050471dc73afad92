#include "cli_messages.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "cli_forms.h"
#include "cli_input.h"
#include "cli_output.h"

namespace cli {

namespace {

// `text` with every `from` (when not empty) replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t p = 0; (p = text.find(from, p)) != std::string::npos; p += to.size())
    text.replace(p, from.size(), to);
  return text;
}

// A message of the libraries on the one line it is given: line feeds in it
// shown as \n, every other control character but tab as printable shows it.
std::string one_line_message(const std::string& text) {
  std::string out;
  for (const char c : printable(text)) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

}  // namespace

MessageRelay::MessageRelay() : guard_(&MessageRelay::take, this) {}

MessageRelay* MessageRelay::current() {
  qal3_message_sink sink = nullptr;
  void* data = nullptr;
  qal3_get_thread_message_sink(&sink, &data);
  return sink == &MessageRelay::take ? static_cast<MessageRelay*>(data) : nullptr;
}

void MessageRelay::take(const qal3_message* m, void* self) {
  try {
    static_cast<MessageRelay*>(self)->relay(*m);
  } catch (const std::exception&) {
    // Out of memory while formatting: the line is lost, the run goes on.
  }
}

void MessageRelay::relay(const qal3_message& m) {
  Scope none{"qal3", "", false, nullptr};
  Scope& scope = scopes_.empty() ? none : scopes_.back();
  const bool listing = m.kind == QAL3_MESSAGE_LISTING && m.stream == QAL3_MESSAGE_STDOUT;
  if ((listing || m.kind == QAL3_MESSAGE_INFO) && scope.writing) return;
  if (listing) {
    put(printable(m.default_text ? std::string_view(m.default_text, m.default_length)
                                 : std::string(m.text, m.length) + "\n"));
    return;
  }
  if (m.kind == QAL3_MESSAGE_INFO && quiet_) return;
  if (m.kind == QAL3_MESSAGE_READER_NOTE && (quiet_ || !notes_)) return;
  const bool ours = !m.document || scope.library_path == m.document;
  long long line = m.line;
  long long column = m.column;
  if (ours && scope.text) {
    if (line > 0) {
      scope.line = line;
      scope.column = column;
    } else {
      line = scope.line;
      column = scope.column;
    }
  }
  std::string out = one_line(ours ? scope.name : m.document);
  out += ":";
  if (line > 0) out += std::to_string(line) + ":" + std::to_string(column) + ":";
  out += " ";
  if (m.kind == QAL3_MESSAGE_PARSER_WARNING || m.kind == QAL3_MESSAGE_READER_NOTE) out += "warning: ";
  out += one_line_message(replaced(std::string(m.text, m.length), scope.library_path, scope.name)) + "\n";
  flush_stdout();
  std::fwrite(out.data(), 1, out.size(), stderr);
  if (ours) note_doctype(m, scope);
}

void MessageRelay::note_doctype(const qal3_message& m, Scope& scope) const {
  const bool refused = m.kind == QAL3_MESSAGE_PARSER_ERROR || m.kind == QAL3_MESSAGE_PARSER_FATAL;
  if (!refused || !scope.text || scope.noted) return;
  const Doctype d = doctype_of(*scope.text);
  if (!d.found) return;
  const char* note = nullptr;
  if (d.external && m.kind == QAL3_MESSAGE_PARSER_FATAL)
    note =
        "document type definitions outside the document (SYSTEM or PUBLIC) are not read: "
        "leave the identifier out of the DOCTYPE";
  else if (m.kind == QAL3_MESSAGE_PARSER_ERROR)
    note =
        "a document with a DOCTYPE is checked against the declarations in it: "
        "declare every element and attribute there, or leave the DOCTYPE out";
  if (!note) return;
  scope.noted = true;
  const std::string out =
      one_line(scope.name) + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ": note: " + note + "\n";
  std::fwrite(out.data(), 1, out.size(), stderr);
}

void reader_notes_said() {
  if (MessageRelay* relay = MessageRelay::current()) relay->set_notes(false);
}

MessageScope::MessageScope(std::string name, std::string library_path, Lines lines) : relay_(MessageRelay::current()) {
  if (relay_) relay_->scopes_.push_back({std::move(name), std::move(library_path), lines == kWriting, nullptr});
}

MessageScope::MessageScope(std::string name, std::string library_path, const std::string* text)
    : relay_(MessageRelay::current()) {
  if (relay_) relay_->scopes_.push_back({std::move(name), std::move(library_path), false, text});
}

MessageScope::~MessageScope() {
  if (relay_) relay_->scopes_.pop_back();
}

}  // namespace cli
