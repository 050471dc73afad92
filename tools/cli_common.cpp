#include "cli_common.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>

namespace cli {

// ---------------------------------------------------------------------------
// Command line.

bool Args::has(const std::string& name) const {
  for (const auto& o : options)
    if (o.first == name) return true;
  return false;
}

std::string Args::value(const std::string& name) const {
  std::string v;
  for (const auto& o : options)
    if (o.first == name) v = o.second;
  return v;
}

int usage_error(const std::string& cmd, const std::string& message) {
  flush_stdout();
  std::fprintf(stderr, "qal3 %s: %s\nTry 'qal3 %s --help'.\n", cmd.c_str(), message.c_str(), cmd.c_str());
  return kUsage;
}

int stdin_once(const std::string& cmd, const std::vector<std::string>& inputs) {
  if (std::count(inputs.begin(), inputs.end(), "-") < 2) return -1;
  return usage_error(cmd, "standard input ('-') is named more than once; it can be read only once");
}

void file_error(const std::string& where, const std::string& message) {
  flush_stdout();
  std::fprintf(stderr, "qal3: %s: %s\n", where.c_str(), message.c_str());
}

void print_version() { put("qal3 1.0.0\n"); }

int parse(const CommandInfo& command_info, int argc, char** argv, Args& args) {
  std::vector<option> longs;
  std::vector<const OptionInfo*> infos;
  std::string shorts = ":";  // missing values reported as ':'
  auto add = [&](const char* name) {
    const OptionInfo* o = find_option(name);
    for (const OptionInfo* i : infos)
      if (i == o) return;
    infos.push_back(o);
    longs.push_back({o->name, o->arg ? required_argument : no_argument, nullptr,
                     static_cast<int>(infos.size() - 1) + 256});
    if (o->letter) shorts += std::string(1, o->letter) + (o->arg ? ":" : "");
  };
  for (const OptionUse& u : command_info.options) add(u.name);
  add("quiet");
  add("help");
  add("version");
  longs.push_back({nullptr, 0, nullptr, 0});

  opterr = 0;
  optind = 0;  // a fresh scan (GNU)
  for (;;) {
    int index = -1;
    const int c = getopt_long(argc, argv, shorts.c_str(), longs.data(), &index);
    if (c == -1) break;
    const OptionInfo* o = nullptr;
    if (c >= 256) {
      o = infos[static_cast<std::size_t>(c - 256)];
    } else if (c == '?' || c == ':') {
      const std::string what = optopt && optopt < 256 ? std::string("-") + static_cast<char>(optopt)
                                                      : std::string(argv[optind - 1]);
      return usage_error(command_info.name, c == ':' ? "option '" + what + "' needs a value"
                                             : "unknown option '" + what + "'");
    } else {
      for (const OptionInfo* i : infos)
        if (i->letter == c) o = i;
    }
    if (!o) return usage_error(command_info.name, "unknown option");
    const std::string name = o->name;
    if (name == "help") {
      put(help_text(command_info));
      return kOk;
    }
    if (name == "version") {
      print_version();
      return kOk;
    }
    if (name == "quiet") {
      args.quiet = true;
      if (MessageRelay* relay = MessageRelay::current()) relay->set_quiet(true);
    }
    if (name == "json") args.json = true;
    if (name == "max-input-size" && !parse_size(optarg, args.max_input))
      return usage_error(command_info.name, "--max-input-size: '" + std::string(optarg) +
                                                "' is not a size (bytes, or a number with K, M or G)");
    if (name == "output" && *optarg == '\0') return usage_error(command_info.name, "-o needs a file name");
    args.options.emplace_back(name, o->arg ? optarg : "");
  }
  for (int i = optind; i < argc; ++i) args.operands.push_back(argv[i]);
  return -1;
}

// ---------------------------------------------------------------------------
// Input.

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// Writes all `size` bytes; false (errno set) on failure.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// A descriptor closed on destruction (standard input stays open).
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ > STDERR_FILENO) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

enum class ReadResult { kDone, kTooLarge, kFailed };

// Reads `fd` to its end into `out`, which never holds more than `limit`
// bytes: a byte past the limit ends the read.
ReadResult read_bounded(int fd, std::size_t limit, std::string& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return ReadResult::kFailed;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return ReadResult::kFailed;
  }
  out.clear();
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    if (static_cast<std::uintmax_t>(st.st_size) > limit) return ReadResult::kTooLarge;
    out.reserve(static_cast<std::size_t>(st.st_size));
  }
  std::vector<char> chunk(kReadChunk);
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), std::min(chunk.size(), limit - out.size() + 1));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadResult::kFailed;
    if (n == 0) return ReadResult::kDone;
    const std::size_t size = out.size() + static_cast<std::size_t>(n);
    if (size > limit) return ReadResult::kTooLarge;
    // Grows as append would, but never past the limit.
    if (size > out.capacity()) out.reserve(std::min(std::max(size, 2 * out.capacity()), limit));
    out.append(chunk.data(), static_cast<std::size_t>(n));
  }
}

// An anonymous memory file, in no folder; -1 (errno set) on failure.
int memory_file(const char* name) { return ::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING); }

std::string descriptor_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Line and column (1-based, in bytes) of byte `offset` of `text`.
struct Position {
  long long line;
  long long column;
};

Position position_of(const std::string& text, std::size_t offset) {
  offset = std::min(offset, text.size());
  const auto end = text.begin() + static_cast<std::ptrdiff_t>(offset);
  const std::size_t line_start = offset == 0 ? std::string::npos : text.rfind('\n', offset - 1);
  return {1 + std::count(text.begin(), end, '\n'),
          static_cast<long long>(line_start == std::string::npos ? offset + 1 : offset - line_start)};
}

}  // namespace

bool parse_size(const std::string& text, std::size_t& out) {
  std::uint64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value);
  if (r.ec != std::errc() || r.ptr == text.data()) return false;
  unsigned shift = 0;
  if (r.ptr != end) {
    if (r.ptr + 1 != end) return false;
    switch (*r.ptr) {
      case 'k': case 'K': shift = 10; break;
      case 'm': case 'M': shift = 20; break;
      case 'g': case 'G': shift = 30; break;
      default: return false;
    }
  }
  // The limit and one byte more must fit in memory's sizes.
  const std::uint64_t most = std::min<std::uint64_t>(std::numeric_limits<std::size_t>::max() / 2,
                                                     std::numeric_limits<std::uint64_t>::max() >> 30);
  if (value == 0 || value > (most >> shift)) return false;
  out = static_cast<std::size_t>(value << shift);
  return true;
}

std::string size_text(std::size_t bytes) {
  static const struct {
    unsigned shift;
    const char* unit;
  } kUnits[] = {{30, " GiB"}, {20, " MiB"}, {10, " KiB"}};
  for (const auto& u : kUnits)
    if (bytes >> u.shift && (bytes & ((std::size_t{1} << u.shift) - 1)) == 0)
      return std::to_string(bytes >> u.shift) + u.unit;
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

bool read_input(const std::string& arg, std::size_t limit, Input& in) {
  in.arg = arg;
  in.from_stdin = arg == "-";
  in.name = in.from_stdin ? "<stdin>" : arg;
  const Descriptor fd(in.from_stdin ? STDIN_FILENO : ::open(arg.c_str(), O_RDONLY | O_CLOEXEC));
  in.error.clear();
  const ReadResult result = fd.get() < 0 ? ReadResult::kFailed : read_bounded(fd.get(), limit, in.text);
  if (result == ReadResult::kDone) return true;
  in.error = result == ReadResult::kTooLarge
                 ? "larger than the input limit of " + size_text(limit) + " (--max-input-size changes it)"
                 : std::strerror(errno);
  in.text = std::string();
  file_error(in.name, in.error);
  return false;
}

std::string root_element(const std::string& xml, std::size_t* at) {
  std::size_t p = 0;
  if (xml.compare(0, 3, "\xEF\xBB\xBF") == 0) p = 3;
  for (;;) {
    p = xml.find('<', p);
    if (p == std::string::npos || p + 1 >= xml.size()) return "";
    const char next = xml[p + 1];
    if (next == '?') {
      p = xml.find("?>", p);
    } else if (xml.compare(p, 4, "<!--") == 0) {
      p = xml.find("-->", p);
    } else if (next == '!') {  // DOCTYPE, maybe with an internal subset
      const std::size_t close = xml.find('>', p);
      const std::size_t open = xml.find('[', p);
      p = open != std::string::npos && open < close ? xml.find("]", open) : close;
    } else {
      std::size_t e = p + 1;
      while (e < xml.size() && !std::strchr(" \t\r\n/>", xml[e])) ++e;
      if (at) *at = p;
      return xml.substr(p + 1, e - p - 1);
    }
    if (p == std::string::npos) return "";
    ++p;
  }
}

void document_error(const Input& in, std::size_t offset, const std::string& message) {
  const Position at = position_of(in.text, offset);
  flush_stdout();
  std::fprintf(stderr, "%s:%lld:%lld: %s\n", in.name.c_str(), at.line, at.column, message.c_str());
}

MemoryDocument::~MemoryDocument() {
  if (fd_ >= 0) ::close(fd_);
}

bool MemoryDocument::create(const Input& in) {
  fd_ = memory_file("qal3-document");
  if (fd_ < 0 || !write_all(fd_, in.text.data(), in.text.size())) {
    file_error(in.name, std::string("cannot be handed to the reader: ") + std::strerror(errno));
    return false;
  }
  // Nothing can change the bytes from now on (where the system seals).
  ::fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  path_ = descriptor_path(fd_);
  return true;
}

// ---------------------------------------------------------------------------
// Library messages.

namespace {

// `text` with every `from` (when not empty) replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (std::size_t p = 0; (p = text.find(from, p)) != std::string::npos; p += to.size())
    text.replace(p, from.size(), to);
  return text;
}

// Where a document's DOCTYPE is, and whether it names declarations outside
// the document.
struct Doctype {
  bool found = false;
  long long line = 0;
  long long column = 0;
  bool external = false;  // a SYSTEM or PUBLIC identifier
};

Doctype doctype_of(const std::string& xml) {
  Doctype d;
  std::size_t p = xml.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (;;) {
    p = xml.find('<', p);
    if (p == std::string::npos) return d;
    if (xml.compare(p, 2, "<?") == 0) {
      p = xml.find("?>", p);
    } else if (xml.compare(p, 4, "<!--") == 0) {
      p = xml.find("-->", p);
    } else {
      break;
    }
    if (p == std::string::npos) return d;
  }
  if (xml.compare(p, 9, "<!DOCTYPE") != 0) return d;
  d.found = true;
  const Position at = position_of(xml, p);
  d.line = at.line;
  d.column = at.column;
  // After the keyword and the root's name: SYSTEM or PUBLIC, or the subset.
  std::size_t q = xml.find_first_of(" \t\r\n", p);
  q = q == std::string::npos ? q : xml.find_first_not_of(" \t\r\n", q);
  q = q == std::string::npos ? q : xml.find_first_of(" \t\r\n[>", q);
  q = q == std::string::npos ? q : xml.find_first_not_of(" \t\r\n", q);
  d.external = q != std::string::npos && (xml.compare(q, 6, "SYSTEM") == 0 || xml.compare(q, 6, "PUBLIC") == 0);
  return d;
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
    put(m.default_text ? std::string(m.default_text, m.default_length) : std::string(m.text, m.length) + "\n");
    return;
  }
  if (m.kind == QAL3_MESSAGE_INFO && quiet_) return;
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
  std::string out = ours ? scope.name : m.document;
  out += ":";
  if (line > 0) out += std::to_string(line) + ":" + std::to_string(column) + ":";
  out += " ";
  if (m.kind == QAL3_MESSAGE_PARSER_WARNING) out += "warning: ";
  out += replaced(std::string(m.text, m.length), scope.library_path, scope.name) + "\n";
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
    note = "document type definitions outside the document (SYSTEM or PUBLIC) are not read: "
           "leave the identifier out of the DOCTYPE";
  else if (m.kind == QAL3_MESSAGE_PARSER_ERROR)
    note = "a document with a DOCTYPE is checked against the declarations in it: "
           "declare every element and attribute there, or leave the DOCTYPE out";
  if (!note) return;
  scope.noted = true;
  const std::string out = scope.name + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) +
                          ": note: " + note + "\n";
  std::fwrite(out.data(), 1, out.size(), stderr);
}

MessageScope::MessageScope(std::string name, std::string library_path, Lines lines)
    : relay_(MessageRelay::current()) {
  if (relay_) relay_->scopes_.push_back({std::move(name), std::move(library_path), lines == kWriting, nullptr});
}

MessageScope::MessageScope(const Input& in, std::string library_path) : relay_(MessageRelay::current()) {
  if (relay_) relay_->scopes_.push_back({in.name, std::move(library_path), false, &in.text});
}

MessageScope::~MessageScope() {
  if (relay_) relay_->scopes_.pop_back();
}

// ---------------------------------------------------------------------------
// Output.

namespace {

// The scratch files being written, for the signal handler: each path is
// set (with the signals blocked) before its file exists and cleared after
// the file is renamed or removed, so that the handler only has to unlink.
constexpr int kScratchSlots = 4;
struct ScratchSlot {
  volatile std::sig_atomic_t used;
  char path[PATH_MAX];
};
ScratchSlot g_scratch[kScratchSlots];

const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_scratch_and_end(int sig) {
  for (ScratchSlot& s : g_scratch)
    if (s.used) ::unlink(s.path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // delivered, with the default action, when the handler returns
}

// While alive, SIGINT, SIGTERM and SIGHUP wait.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

// Creates a scratch file from the template `tmpl` (mkstemp) and enters it
// for the signal handler. The descriptor, or -1 (errno set); `slot` is its
// entry.
int make_scratch(const std::string& tmpl, int& slot) {
  const SignalsHeld held;
  for (int i = 0; i < kScratchSlots; ++i) {
    ScratchSlot& s = g_scratch[i];
    if (s.used) continue;
    if (tmpl.size() >= sizeof s.path) {
      errno = ENAMETOOLONG;
      return -1;
    }
    std::memcpy(s.path, tmpl.c_str(), tmpl.size() + 1);
    const int fd = ::mkostemp(s.path, O_CLOEXEC);
    if (fd < 0) return -1;
    s.used = 1;
    slot = i;
    return fd;
  }
  errno = EMFILE;
  return -1;
}

// Renames the scratch file of `slot` to `to` (or, with `to` null, removes
// it) and takes it off the handler's list; false (errno set) when the
// rename fails, and the file is then still there.
bool settle_scratch(int& slot, const char* to) {
  if (slot < 0) return true;
  const SignalsHeld held;
  ScratchSlot& s = g_scratch[slot];
  if (to && ::rename(s.path, to) != 0) return false;
  if (!to) ::unlink(s.path);
  s.used = 0;
  slot = -1;
  return true;
}

// The folder part of `path` ("" for the current folder) and the rest.
std::pair<std::string, std::string> split_path(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// The file that `path` leads to through its symbolic links (each one read
// relative to its own folder); `path` itself when it is no link or does not
// exist. False (errno set) when the links do not end.
bool follow_links(const std::string& path, std::string& out) {
  out = path;
  for (int hops = 0; hops < 40; ++hops) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(out.c_str(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINVAL || errno == ENOENT) return true;  // no link: the end
      return false;
    }
    if (static_cast<std::size_t>(n) >= sizeof buf) {
      errno = ENAMETOOLONG;
      return false;
    }
    const std::string link(buf, static_cast<std::size_t>(n));
    out = link[0] == '/' ? link : split_path(out).first + link;
  }
  errno = ELOOP;
  return false;
}

// Syncs the folder `dir` ("" the current one), so that a rename in it lasts.
// File systems that cannot sync a folder are not a failure.
bool sync_folder(const std::string& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int err = errno;
  ::close(fd);
  errno = err;
  return ok;
}

// Gives the file `fd` the owner and group of `st` where the system allows
// (as root), else the group alone where the user may give it.
void keep_owner(int fd, const struct stat& st) {
  if (::fchown(fd, st.st_uid, st.st_gid) == 0) return;
  const int ignored = ::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  static_cast<void>(ignored);
}

}  // namespace

void remove_scratch_on_signals() {
  for (int sig : kCleanupSignals) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = remove_scratch_and_end;
    sigemptyset(&sa.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&sa.sa_mask, other);
    ::sigaction(sig, &sa, nullptr);
  }
}

Output::Links links_option(const Args& args) {
  return args.has("follow-symlinks") ? Output::Links::follow : Output::Links::replace;
}

Output::Output(std::string target, Links links) : target_(std::move(target)), links_(links) {
  name_ = target_.empty() || target_ == "-" ? "<stdout>" : target_;
}

Output::~Output() { discard(); }

void Output::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  settle_scratch(slot_, nullptr);
}

namespace {

// True when `path` exists and is neither a regular file nor a folder (a
// device, a FIFO, a socket), through its links: such a file is written to,
// never replaced.
bool written_through(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

bool Output::open() {
  through_ = name_ != "<stdout>" && written_through(target_);
  if (name_ == "<stdout>" || through_) {
    fd_ = memory_file("qal3-output");
  } else if (links_ == Links::replace || follow_links(target_, destination_)) {
    if (links_ == Links::replace) destination_ = target_;
    const auto parts = split_path(destination_);
    fd_ = make_scratch(parts.first + "." + parts.second + ".XXXXXX", slot_);
  }
  if (fd_ < 0) {
    file_error(name_, std::strerror(errno));
    return false;
  }
  writer_path_ = descriptor_path(fd_);
  return true;
}

bool Output::write(const std::string& data) {
  if (write_all(fd_, data.data(), data.size())) return true;
  file_error(name_, std::strerror(errno));
  return false;
}

// Gives the scratch file the owner, group and mode of the file it replaces
// (the usual mode for a new file), syncs and closes it, renames it over the
// destination and syncs the folder. False (errno set) on failure.
bool Output::place() {
  struct stat st {};
  mode_t mode;
  if (::stat(destination_.c_str(), &st) == 0) {
    keep_owner(fd_, st);  // first: a change of owner clears set-id bits
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool ok = ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0;
  int err = errno;
  if (::close(fd_) != 0 && ok) {
    ok = false;
    err = errno;
  }
  fd_ = -1;
  errno = err;
  return ok && settle_scratch(slot_, destination_.c_str()) && sync_folder(split_path(destination_).first);
}

namespace {

// Writes `text` to the existing non-regular file `path` (a device or a
// FIFO), as a shell redirection would. False (errno set) on failure.
bool write_through(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  bool ok = write_all(fd, text.data(), text.size());
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  errno = err;
  return ok;
}

}  // namespace

bool Output::commit() {
  if (fd_ < 0) return false;
  if (name_ == "<stdout>" || through_) {
    // The whole result was staged in memory; only now does it go out.
    std::string text;
    const bool ok = ::lseek(fd_, 0, SEEK_SET) == 0 &&
                    read_bounded(fd_, std::numeric_limits<std::size_t>::max() - 1, text) == ReadResult::kDone;
    const int err = errno;
    discard();
    if (!ok) {
      file_error(name_, std::strerror(err));
      return false;
    }
    if (!through_) return put(text);
    if (write_through(target_, text)) return true;
    file_error(name_, std::strerror(errno));
    return false;
  }
  if (!place()) {
    file_error(name_, std::strerror(errno));
    discard();
    return false;
  }
  return true;
}

namespace {

// Reports a failed write to standard output with the system's reason,
// unless the stream had failed before (put and flush_stdout, the only
// writers of standard output, reported that one).
void report_stdout_failure(bool failed_before, int err) {
  if (failed_before || err == EPIPE) return;  // EPIPE: the reader left, no message
  file_error("<stdout>", err ? std::strerror(err) : "write error");
}

}  // namespace

void flush_stdout() {
  const bool failed_before = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fflush(stdout) != 0) report_stdout_failure(failed_before, errno);
}

bool put(const std::string& text) {
  const bool failed_before = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) return true;
  report_stdout_failure(failed_before, errno);
  return false;
}

int finish_stdout(int status) {
  const bool failed_before = std::ferror(stdout) != 0;
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  report_stdout_failure(failed_before, errno);
  return status == kOk ? kBadDocument : status;
}

// ---------------------------------------------------------------------------
// Record forms.

std::string one_line(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

nlohmann::json json_float(float v) {
  if (!std::isfinite(v)) return nullptr;
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
}

void print_json(const nlohmann::json& doc) {
  put(doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

}  // namespace cli
