// The checker of qal3_check.h: documents given as text, files or folders,
// their findings and those across them, as records.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "check_driver.h"
#include "check_folder.h"
#include "qal3_check.h"

namespace {

constexpr unsigned long long kDefaultMaxBytes = 256ULL << 20;

// A finding and the document it is in.
struct Found {
  std::size_t document = 0;
  check::Finding finding;
  bool across = false;
};

enum class Read { done, failed, too_large };

// The bytes of the file `path`, at most `limit` of them; the system's
// reason in `error` when it cannot be read.
Read read_file(const char* path, unsigned long long limit, std::string& out, int& error) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return Read::failed;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    error = EISDIR;
    return Read::failed;
  }
  if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > limit) return Read::too_large;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return Read::done;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return Read::failed;
    }
    if (out.size() + static_cast<std::size_t>(n) > limit) return Read::too_large;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

struct qal3_checker {
  // A document given, with the strings its record points into.
  struct Document {
    std::string name, root, reason;
    qal3_check_document record{};
  };

  check::Options options;
  check::Folder folder;
  std::vector<std::string> excludes;
  unsigned long long max_bytes = kDefaultMaxBytes;
  std::deque<Document> documents;  // a deque: the records' strings never move
  std::unordered_map<std::string, std::size_t> first_named;
  std::vector<Found> own;  // each document's, in the order given

  // The findings as records: the documents' own, then those across them,
  // made again when asked for after a new document.
  mutable std::vector<Found> across;
  mutable std::vector<qal3_check_finding> records;
  mutable bool stale = true;

  qal3_checker() { options.folder = &folder; }

  Document& add(const std::string& name, qal3_check_state state) {
    Document& d = documents.emplace_back();
    d.name = name;
    d.record.state = state;
    first_named.emplace(name, documents.size() - 1);
    stale = true;
    return d;
  }

  // A document that could not be read: one error of `code`.
  int refused(const std::string& name, qal3_check_state state, const char* code, std::string reason) {
    Document& d = add(name, state);
    d.reason = std::move(reason);
    check::Finding f;
    f.severity = check::Severity::kError;
    f.message = d.reason;
    f.code = code;
    own.push_back({documents.size() - 1, std::move(f), false});
    seal(d);
    return 1;
  }

  static void seal(Document& d) {
    d.record.name = d.name.c_str();
    d.record.root = d.root.c_str();
    d.record.reason = d.reason.c_str();
  }

  int text(const std::string& name, std::string_view bytes) {
    Document& d = add(name, QAL3_CHECK_CHECKED);
    qal3_root_element root;
    d.record.family = qal3_family_of_text(bytes.data(), bytes.size(), &root);
    d.root = root.name;
    seal(d);
    check::Report report = check::check_document(name, bytes, options);
    for (check::Finding& f : report.findings) own.push_back({documents.size() - 1, std::move(f), false});
    return static_cast<int>(report.errors());
  }

  // Reads the file `path` and checks it; with `found` (below a folder) a
  // root element of no family is passed over.
  int file(const std::string& path, bool found) {
    std::string bytes;
    int error = 0;
    switch (read_file(path.c_str(), max_bytes, bytes, error)) {
      case Read::failed:
        return refused(path, QAL3_CHECK_UNREADABLE, "unreadable", std::strerror(error));
      case Read::too_large:
        return refused(path, QAL3_CHECK_TOO_LARGE, "too-large",
                       "larger than the limit of " + std::to_string(max_bytes) + " bytes");
      case Read::done:
        break;
    }
    if (found) {
      qal3_root_element root;
      if (qal3_family_of_text(bytes.data(), bytes.size(), &root) == QAL3_FAMILY_UNKNOWN && root.name[0]) {
        Document& d = add(path, QAL3_CHECK_SKIPPED);
        d.root = root.name;
        seal(d);
        return 0;
      }
    }
    return text(path, bytes);
  }

  int folder_below(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> unreadable;
    const std::vector<std::string> files = check::documents_below(path, unreadable);
    int errors = 0;
    for (const auto& u : unreadable) errors += refused(u.first, QAL3_CHECK_UNREADABLE_FOLDER, "unreadable", u.second);
    for (const std::string& f : files)
      if (!check::excluded(path, f, excludes)) errors += file(f, true);
    return errors;
  }

  void refresh() const {
    if (!stale) return;
    across.clear();
    records.clear();
    for (auto& [file, f] : folder.findings()) {
      if (options.strict) f.severity = check::Severity::kError;
      const auto it = first_named.find(file);
      across.push_back({it == first_named.end() ? 0 : it->second, std::move(f), true});
    }
    for (const std::vector<Found>* list : {&own, static_cast<const std::vector<Found>*>(&across)})
      for (const Found& f : *list) {
        qal3_check_finding r{};
        r.document = f.document;
        r.file = documents[f.document].name.c_str();
        r.line = f.finding.line;
        r.column = f.finding.column;
        r.severity = f.finding.severity == check::Severity::kError ? QAL3_CHECK_ERROR : QAL3_CHECK_WARNING;
        r.code = f.finding.code;
        r.message = f.finding.message.c_str();
        r.across = f.across;
        records.push_back(r);
      }
    stale = false;
  }
};

namespace {

// Runs `call` (returning a count) with running out of memory as -1.
template <class Call>
int guarded(Call&& call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return -1;
  } catch (const std::length_error&) {
    return -1;
  }
}

}  // namespace

qal3_checker* qal3_check_new(void) { return new (std::nothrow) qal3_checker(); }

void qal3_check_free(qal3_checker* checker) { delete checker; }

int qal3_check_set_strict(qal3_checker* checker, int strict) {
  if (!checker) return -1;
  checker->options.strict = strict != 0;
  checker->stale = true;
  return 0;
}

int qal3_check_set_max_bytes(qal3_checker* checker, unsigned long long max_bytes) {
  if (!checker || max_bytes == 0) return -1;
  checker->max_bytes = max_bytes;
  return 0;
}

int qal3_check_know(qal3_checker* checker, const char* name) {
  if (!checker || !name || !*name) return -1;
  return guarded([&] {
    checker->options.known_names.insert(name);
    return 0;
  });
}

int qal3_check_exclude(qal3_checker* checker, const char* glob) {
  if (!checker || !glob) return -1;
  return guarded([&] {
    checker->excludes.push_back(glob);
    return 0;
  });
}

int qal3_check_text(qal3_checker* checker, const char* name, const char* text, size_t length) {
  if (!checker || (!text && length)) return -1;
  return guarded([&] { return checker->text(name ? name : "<text>", std::string_view(text ? text : "", length)); });
}

int qal3_check_file(qal3_checker* checker, const char* path) {
  if (!checker || !path) return -1;
  return guarded([&] { return checker->file(path, false); });
}

int qal3_check_folder(qal3_checker* checker, const char* path) {
  if (!checker || !path || !check::is_folder(path)) return -1;
  return guarded([&] { return checker->folder_below(path); });
}

size_t qal3_check_document_count(const qal3_checker* checker) { return checker ? checker->documents.size() : 0; }

const qal3_check_document* qal3_check_document_at(const qal3_checker* checker, size_t index) {
  if (!checker || index >= checker->documents.size()) return nullptr;
  return &checker->documents[index].record;
}

size_t qal3_check_finding_count(const qal3_checker* checker) {
  if (!checker || guarded([&] {
                    checker->refresh();
                    return 0;
                  }) < 0)
    return 0;
  return checker->records.size();
}

const qal3_check_finding* qal3_check_finding_at(const qal3_checker* checker, size_t index) {
  if (index >= qal3_check_finding_count(checker)) return nullptr;
  return &checker->records[index];
}

size_t qal3_check_count(const qal3_checker* checker, qal3_check_severity severity) {
  std::size_t n = 0;
  for (std::size_t i = 0, end = qal3_check_finding_count(checker); i < end; ++i)
    n += checker->records[i].severity == severity;
  return n;
}

size_t qal3_check_format(const qal3_check_finding* finding, char* out, size_t size) {
  if (!finding) return 0;
  std::string line;
  try {
    check::Finding f;
    f.line = static_cast<int>(finding->line);
    f.column = static_cast<int>(finding->column);
    f.severity = finding->severity == QAL3_CHECK_ERROR ? check::Severity::kError : check::Severity::kWarning;
    f.message = finding->message ? finding->message : "";
    line = check::format_finding(finding->file ? finding->file : "", f);
  } catch (const std::exception&) {
    if (out && size) *out = '\0';
    return 0;
  }
  if (out && size) {
    std::size_t n = std::min(line.size(), size - 1);
    while (n > 0 && n < line.size() && (static_cast<unsigned char>(line[n]) & 0xC0u) == 0x80u) --n;
    std::memcpy(out, line.data(), n);
    out[n] = '\0';
  }
  return line.size();
}

const char* qal3_check_schema(qal3_family family, const char** text, size_t* length) {
  const check::FamilyInfo* info = nullptr;
  for (const check::FamilyInfo& f : check::families())
    if (family != QAL3_FAMILY_UNKNOWN && f.code == family) info = &f;
  if (!info) return nullptr;
  const std::string_view schema = check::schema_text(info->schema);
  if (text) *text = schema.data();
  if (length) *length = schema.size();
  return info->schema;
}
