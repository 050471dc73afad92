// The sinks of the libraries' message path, the default output, and the
// document a parser of the calling thread is reading.
#include "messages.h"

#include <atomic>
#include <cstdio>
#include <forward_list>
#include <mutex>
#include <string>
#include <xercesc/sax/Locator.hpp>

#include "reading_scope.h"

namespace {

struct Sink {
  qal3_message_sink sink;
  void* user_data;
};

// The process-wide sink: an immutable record published by pointer. Every
// record ever installed is kept (installing is a set-up step), so that a
// thread still reading the previous one never sees it freed.
std::atomic<const Sink*> g_process_sink{nullptr};

std::mutex& installed_mutex() {
  static std::mutex m;
  return m;
}

std::forward_list<Sink>& installed() {
  static std::forward_list<Sink> list;
  return list;
}

thread_local Sink t_thread_sink{nullptr, nullptr};

// The document a pull parser of this thread reads, from its start to its end.
struct Reading {
  const void* owner = nullptr;
  std::string document;
  bool named = false;
  const xercesc::Locator* locator = nullptr;
};

// The readings of this thread, innermost first: a read started inside a
// message sink goes on top of the one whose line the sink is given, and
// leaves that one's document text where it is. Ended readings wait on a
// spare list for the next one, so a document costs no allocation.
struct Readings {
  std::forward_list<Reading> active;
  std::forward_list<Reading> spare;

  Reading* find(const void* owner) {
    if (!owner) return nullptr;
    for (Reading& r : active)
      if (r.owner == owner) return &r;
    return nullptr;
  }
  Reading* current() { return active.empty() || !active.front().owner ? nullptr : &active.front(); }
  // A reading for `owner` on top (its own when it has one); null when
  // memory runs out.
  Reading* open(const void* owner) {
    if (Reading* r = find(owner)) return r;
    try {
      if (spare.empty()) spare.emplace_front();
    } catch (...) {
      return nullptr;
    }
    active.splice_after(active.before_begin(), spare, spare.before_begin());
    active.front().owner = owner;
    return &active.front();
  }
  void close(const void* owner) {
    for (auto before = active.before_begin(), at = active.begin(); at != active.end(); before = at++) {
      if (at->owner != owner) continue;
      at->owner = nullptr;
      at->locator = nullptr;
      at->named = false;
      spare.splice_after(spare.before_begin(), active, before);
      return;
    }
  }
};

thread_local Readings t_readings;

// The name the calling thread gives its documents in memory (the caller's
// text), or null.
thread_local const char* t_memory_document = nullptr;

}  // namespace

namespace qal3 {
namespace messages {

void begin_reading(const void* owner, const char* document, const xercesc::Locator* locator) {
  Reading* r = t_readings.open(owner);
  if (!r) return;
  try {
    r->document.assign(document ? document : "");
  } catch (...) {
    r->document.clear();
    document = nullptr;
  }
  r->named = document != nullptr;
  r->locator = locator;
}

void set_position(const void* owner, const xercesc::Locator* locator) {
  if (Reading* r = t_readings.find(owner)) r->locator = locator;
}

void end_reading(const void* owner) {
  if (owner) t_readings.close(owner);
}

bool reading(const void* owner, const char** document) {
  const Reading* r = t_readings.find(owner);
  if (!r) return false;
  *document = r->named ? r->document.c_str() : nullptr;
  return true;
}

}  // namespace messages
}  // namespace qal3

extern "C" {

void qal3_set_message_sink(qal3_message_sink sink, void* user_data) {
  if (!sink) {
    g_process_sink.store(nullptr, std::memory_order_release);
    return;
  }
  const std::lock_guard<std::mutex> lock(installed_mutex());
  try {
    installed().push_front(Sink{sink, user_data});
  } catch (...) {
    return;  // out of memory: the previous sink stays
  }
  g_process_sink.store(&installed().front(), std::memory_order_release);
}

void qal3_get_message_sink(qal3_message_sink* sink, void** user_data) {
  const Sink* s = g_process_sink.load(std::memory_order_acquire);
  if (sink) *sink = s ? s->sink : nullptr;
  if (user_data) *user_data = s ? s->user_data : nullptr;
}

void qal3_set_thread_message_sink(qal3_message_sink sink, void* user_data) {
  t_thread_sink = Sink{sink, sink ? user_data : nullptr};
}

void qal3_get_thread_message_sink(qal3_message_sink* sink, void** user_data) {
  if (sink) *sink = t_thread_sink.sink;
  if (user_data) *user_data = t_thread_sink.user_data;
}

void qal3_set_thread_memory_document(const char* name) { t_memory_document = name && *name ? name : nullptr; }

const char* qal3_get_thread_memory_document(void) { return t_memory_document; }

int qal3_message_write_default(const qal3_message* m) {
  if (!m) return -1;
  std::FILE* file = m->stream == QAL3_MESSAGE_STDOUT ? stdout : stderr;
  bool ok = true;
  if (m->default_text) {
    if (m->default_length && std::fwrite(m->default_text, 1, m->default_length, file) != m->default_length) ok = false;
  } else {
    // One fwrite of the whole line: the stream's own lock keeps it whole
    // among other threads' lines.
    std::string line(m->text ? m->text : "", m->text ? m->length : 0);
    line.push_back('\n');
    if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) ok = false;
  }
  if (m->flush && std::fflush(file) != 0) ok = false;
  return ok ? 0 : -1;
}

void qal3_message_emit(const qal3_message* m) {
  if (!m) return;
  Sink s = t_thread_sink;
  if (!s.sink) {
    const Sink* p = g_process_sink.load(std::memory_order_acquire);
    if (p) s = *p;
  }
  if (!s.sink) {
    qal3_message_write_default(m);
    return;
  }
  qal3_message r = *m;
  if (!r.text) {
    r.text = "";
    r.length = 0;
  }
  const Reading* reading = t_readings.current();
  if (!r.document && r.line == 0 && reading) {
    r.document = reading->named ? reading->document.c_str() : nullptr;
    if (const xercesc::Locator* at = reading->locator) {
      r.line = static_cast<long long>(at->getLineNumber());
      r.column = static_cast<long long>(at->getColumnNumber());
    }
  }
  try {
    s.sink(&r, s.user_data);
  } catch (...) {
    // A sink must not throw; what it threw ends here, not in the parser.
  }
}

}  // extern "C"
