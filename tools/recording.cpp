// Recordings for `trigger test --recording` (recording.h): HDF5 through
// libhdf5, .npz through libzip, .npy (and the members of an .npz) through
// the parser below. Every size read from a file is checked against the
// file before it is used; data are read in bounded blocks.
#include "recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <tuple>
#include <utility>

#ifdef QAL3_RECORDING_HDF5
#include <hdf5.h>
#endif
#ifdef QAL3_RECORDING_NPZ
#include <zip.h>
#endif

namespace recording {

Recording::~Recording() = default;

std::size_t Recording::find(const std::string& name, int subchannel) const {
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    if (channels_[i].name == name && channels_[i].subchannel == subchannel) return i;
  }
  return channels_.size();
}

namespace {

constexpr std::size_t kBlockBytes = 64 * 1024;        // one read or conversion step
constexpr std::uint32_t kMaxHeaderBytes = 64 * 1024;  // an .npy header's dict
constexpr std::size_t kShownBytes = 200;              // of a name quoted in a message

// `text` for a message: control characters, DEL, C1 controls and invalid
// UTF-8 as \xNN, cut after kShownBytes.
std::string shown(const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  auto escape = [&](unsigned char c) {
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 15];
  };
  while (i < n && out.size() < kShownBytes) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7f)
        escape(c);
      else
        out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A well-formed UTF-8 sequence, not a C1 control, not a surrogate.
    std::size_t len = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
    if (c > 0xf4 || len == 0 || i + len > n) len = 0;
    std::uint32_t cp = len ? (c & (0x7f >> len)) : 0;
    for (std::size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xc0) != 0x80) {
        len = 0;
        break;
      }
      cp = (cp << 6) | (s[i + k] & 0x3f);
    }
    const bool bad = len == 0 || cp < 0xa0 || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
                     (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff;
    if (bad) {
      escape(c);
      ++i;
    } else {
      out.append(text, i, len);
      i += len;
    }
  }
  if (i < n) out += "...";
  return out;
}

std::string quoted(const std::string& text) { return "'" + shown(text) + "'"; }

// "NAME" or "NAME[k]" (the path of a data set, a member without ".npy", a
// name given for an .npy) split into channel and subchannel; false with
// `why` for no name or a subchannel out of range.
bool split_name(const std::string& text, std::string& name, int& subchannel, std::string& why) {
  name = text;
  subchannel = 0;
  const std::size_t open = text.rfind('[');
  if (!text.empty() && text.back() == ']' && open != std::string::npos && open + 2 < text.size()) {
    const std::string digits = text.substr(open + 1, text.size() - open - 2);
    if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      long value = 0;
      for (char d : digits) {
        value = value * 10 + (d - '0');
        if (value > kMaxSubchannel) {
          why =
              quoted(text) + " names subchannel " + shown(digits) + ", not one of 0.." + std::to_string(kMaxSubchannel);
          return false;
        }
      }
      name = text.substr(0, open);
      subchannel = static_cast<int>(value);
    }
  }
  if (name.empty()) {
    why = quoted(text) + " names no channel";
    return false;
  }
  return true;
}

// A file descriptor, closed with its owner.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Reads `n` bytes at `offset`; the count read (short at the end of the
// file), or -1 with errno.
long long pread_full(int fd, unsigned char* buf, std::size_t n, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd, buf + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long long>(done);
}

// --- element types -----------------------------------------------------------

// An array's element: kind 'f' (float), 'i' or 'u' (integer), its width in
// bytes and whether its bytes are in the other order than this machine's.
struct Dtype {
  char kind = 'f';
  unsigned width = 4;
  bool swap = false;
};

constexpr bool host_is_big_endian() {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return true;
#else
  return false;
#endif
}

template <typename T>
void convert_as(const unsigned char* src, std::size_t n, bool swap, float* out) {
  unsigned char b[sizeof(T)];
  for (std::size_t i = 0; i < n; ++i, src += sizeof(T)) {
    std::memcpy(b, src, sizeof(T));
    if (swap) std::reverse(b, b + sizeof(T));
    T v;
    std::memcpy(&v, b, sizeof(T));
    out[i] = static_cast<float>(v);  // as numpy's astype(float32): C's conversion
  }
}

// The elements an array may hold, each with its conversion to float32.
struct ElementType {
  char kind;
  unsigned width;
  void (*as)(const unsigned char*, std::size_t, bool, float*);
};
constexpr ElementType kElementTypes[] = {{'f', 4, convert_as<float>},         {'f', 8, convert_as<double>},
                                         {'i', 1, convert_as<std::int8_t>},   {'i', 2, convert_as<std::int16_t>},
                                         {'i', 4, convert_as<std::int32_t>},  {'i', 8, convert_as<std::int64_t>},
                                         {'u', 1, convert_as<std::uint8_t>},  {'u', 2, convert_as<std::uint16_t>},
                                         {'u', 4, convert_as<std::uint32_t>}, {'u', 8, convert_as<std::uint64_t>}};

// `n` elements of type `d` at `src` into `out` as float32.
void convert(const unsigned char* src, std::size_t n, const Dtype& d, float* out) {
  if (d.kind == 'f' && d.width == 4 && !d.swap) {
    std::memcpy(out, src, n * 4);
    return;
  }
  for (const ElementType& t : kElementTypes)  // another type was refused when the array was opened
    if (t.kind == d.kind && t.width == d.width) return t.as(src, n, d.swap, out);
}

// Whether first + count rows lie in `events`; else `error` says so.
bool rows_fit(std::size_t first, std::size_t count, std::size_t events, std::string& error) {
  if (first <= events && count <= events - first) return true;
  error = "events " + std::to_string(first) + " to " + std::to_string(first + count) + " asked of a recording of " +
          std::to_string(events);
  return false;
}

// Refuses (false, `why`) channels of different event counts and two
// arrays of one channel and subchannel; sets `events`.
bool check_channels(const std::vector<Channel>& channels, const std::vector<std::uint64_t>& rows, std::size_t& events,
                    std::string& why) {
  for (std::size_t i = 0; i < channels.size(); ++i) {
    if (rows[i] != rows[0]) {
      why = "channels hold different numbers of events: " + channels[0].where + " holds " + std::to_string(rows[0]) +
            ", " + channels[i].where + " holds " + std::to_string(rows[i]);
      return false;
    }
    if (rows[i] > std::numeric_limits<std::size_t>::max()) {
      why = channels[i].where + " holds more events than this machine can count";
      return false;
    }
  }
  std::vector<std::size_t> order(channels.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto key = [&](std::size_t i) { return std::tie(channels[i].name, channels[i].subchannel); };
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
  for (std::size_t k = 1; k < order.size(); ++k) {
    const Channel& a = channels[order[k - 1]];
    const Channel& b = channels[order[k]];
    if (key(order[k - 1]) == key(order[k])) {
      why = a.where + " and " + b.where + " are both channel " + quoted(a.name) + " subchannel " +
            std::to_string(a.subchannel);
      return false;
    }
  }
  events = channels.empty() ? 0 : static_cast<std::size_t>(rows[0]);
  return true;
}

// --- .npy ----------------------------------------------------------------------

// What an .npy header says: element, layout, shape and where the data start.
struct NpyLayout {
  Dtype dtype;
  bool fortran = false;
  std::vector<std::uint64_t> shape;
  std::uint64_t data_offset = 0;
};

// A cursor over the header's Python dict literal.
class DictText {
 public:
  explicit DictText(const std::string& s) : s_(s) {}
  void skip() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }
  bool eat(char c) {
    skip();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool peek(char c) {
    skip();
    return i_ < s_.size() && s_[i_] == c;
  }
  bool at_end() {
    skip();
    return i_ == s_.size();
  }
  // A quoted string without escapes.
  bool string(std::string& out) {
    skip();
    if (i_ >= s_.size() || (s_[i_] != '\'' && s_[i_] != '"')) return false;
    const char q = s_[i_++];
    const std::size_t end = s_.find(q, i_);
    if (end == std::string::npos) return false;
    out = s_.substr(i_, end - i_);
    i_ = end + 1;
    return out.find('\\') == std::string::npos;
  }
  bool word(const char* w) {
    skip();
    const std::size_t n = std::strlen(w);
    if (s_.compare(i_, n, w) != 0) return false;
    i_ += n;
    return true;
  }
  // A tuple of non-negative integers (an old file's "3L" too), at most 32.
  bool tuple(std::vector<std::uint64_t>& out) {
    if (!eat('(')) return false;
    while (!eat(')')) {
      skip();
      if (out.size() == 32 || i_ >= s_.size() || s_[i_] < '0' || s_[i_] > '9') return false;
      std::uint64_t v = 0;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
        if (__builtin_mul_overflow(v, 10u, &v) || __builtin_add_overflow(v, unsigned(s_[i_] - '0'), &v)) return false;
        ++i_;
      }
      if (i_ < s_.size() && s_[i_] == 'L') ++i_;
      out.push_back(v);
      if (!eat(',') && !peek(')')) return false;
    }
    return true;
  }

 private:
  const std::string& s_;
  std::size_t i_ = 0;
};

// The element of descr `d` ("<f4", ">i2", "|u1", ...); false for any other.
bool parse_descr(const std::string& d, Dtype& out) {
  if (d.size() != 3 || (d[0] != '<' && d[0] != '>' && d[0] != '|')) return false;
  const char kind = d[1];
  const unsigned width = static_cast<unsigned>(d[2] - '0');
  const bool fits = std::any_of(std::begin(kElementTypes), std::end(kElementTypes),
                                [&](const ElementType& t) { return t.kind == kind && t.width == width; });
  if (!fits || (d[0] == '|' && width != 1)) return false;
  out.kind = kind;
  out.width = width;
  out.swap = width > 1 && ((d[0] == '>') != host_is_big_endian());
  return true;
}

// The dict of an .npy header into `l`; false with `why`.
bool parse_npy_dict(const std::string& text, NpyLayout& l, std::string& why) {
  DictText t(text);
  bool descr = false, fortran = false, shape = false;
  if (!t.eat('{')) return why = "has no dict in its .npy header", false;
  while (!t.eat('}')) {
    std::string key;
    if (!t.string(key) || !t.eat(':')) return why = "has a malformed .npy header", false;
    if (key == "descr" && !descr) {
      std::string d;
      if (!t.string(d)) return why = "holds structured or object data, which is not read", false;
      if (!parse_descr(d, l.dtype)) {
        return why =
                   "holds data of type " + quoted(d) + "; float32, float64 and integers of 1, 2, 4 or 8 bytes are read",
               false;
      }
      descr = true;
    } else if (key == "fortran_order" && !fortran) {
      if (t.word("True"))
        l.fortran = true;
      else if (!t.word("False"))
        return why = "has a malformed .npy header", false;
      fortran = true;
    } else if (key == "shape" && !shape) {
      if (!t.tuple(l.shape)) return why = "has a malformed shape in its .npy header", false;
      shape = true;
    } else {
      return why = "has a malformed .npy header", false;
    }
    if (!t.eat(',') && !t.peek('}')) return why = "has a malformed .npy header", false;
  }
  if (!descr || !fortran || !shape || !t.at_end()) return why = "has a malformed .npy header", false;
  return true;
}

// Reads an .npy header through `next(buf, n)` (the next `n` bytes of the
// array's file or member, false when fewer are there); false with `why`.
template <typename Next>
bool read_npy_header(Next&& next, NpyLayout& l, std::string& why) {
  unsigned char pre[12];
  if (!next(pre, 10)) return why = "ends inside its .npy header", false;
  if (std::memcmp(pre, "\x93NUMPY", 6) != 0) return why = "is no .npy array", false;
  const unsigned major = pre[6], minor = pre[7];
  std::uint32_t length = 0;
  std::uint64_t start = 10;
  if (major == 1) {
    length = pre[8] | (pre[9] << 8);
  } else if (major == 2 || major == 3) {
    if (!next(pre + 10, 2)) return why = "ends inside its .npy header", false;
    length = pre[8] | (pre[9] << 8) | (std::uint32_t(pre[10]) << 16) | (std::uint32_t(pre[11]) << 24);
    start = 12;
  } else {
    return why = "is an .npy array of version " + std::to_string(major) + "." + std::to_string(minor) +
                 ", which is not read",
           false;
  }
  if (length > kMaxHeaderBytes) {
    return why = "has an .npy header of " + std::to_string(length) + " bytes; at most " +
                 std::to_string(kMaxHeaderBytes) + " are read",
           false;
  }
  std::string text(length, '\0');
  if (length && !next(reinterpret_cast<unsigned char*>(&text[0]), length)) {
    return why = "ends inside its .npy header", false;
  }
  l.data_offset = start + length;
  return parse_npy_dict(text, l, why);
}

// Checks the array of `l` against the `size` bytes of its file or member
// and describes it in `ch`; its row count into `rows`. False with `why`.
bool check_npy_layout(const NpyLayout& l, std::uint64_t size, Channel& ch, std::uint64_t& rows, std::string& why) {
  const std::size_t dims = l.shape.size();
  if (dims != 1 && dims != 2) {
    return why =
               "has " + std::to_string(dims) + " dimensions; 2 (events x samples) or 1 (one value per event) are read",
           false;
  }
  if (l.fortran && dims == 2 && l.shape[0] > 1 && l.shape[1] > 1) {
    return why = "is stored in Fortran order (column after column), which is not read", false;
  }
  std::uint64_t bytes = l.dtype.width;
  for (std::uint64_t n : l.shape) {
    if (__builtin_mul_overflow(bytes, n, &bytes)) return why = "has a shape too large for any file", false;
  }
  const std::uint64_t stored = size > l.data_offset ? size - l.data_offset : 0;
  if (bytes > stored) {
    return why = "holds " + std::to_string(stored) + " bytes of data, not the " + std::to_string(bytes) +
                 " its shape needs",
           false;
  }
  if (dims == 2 && l.shape[1] > std::numeric_limits<std::size_t>::max() / 8) {
    return why = "has rows too long for this machine", false;
  }
  ch.spectrum = dims == 2;
  ch.samples = dims == 2 ? static_cast<std::size_t>(l.shape[1]) : 1;
  rows = l.shape[0];
  return true;
}

// Reads `count` rows of `samples` elements of type `d` from row `first` as
// float32 into `out`, in blocks through `fetch(offset, buf, n)` (`n` bytes
// at byte `offset` of the data; false with its own message).
template <typename Fetch>
bool read_converted(const Dtype& d, std::size_t first, std::size_t count, std::size_t samples, float* out,
                    std::vector<unsigned char>& buf, Fetch&& fetch) {
  // Within the array, whose byte count was checked against its file.
  std::uint64_t left = std::uint64_t(count) * samples;
  std::uint64_t offset = std::uint64_t(first) * samples * d.width;
  buf.resize(kBlockBytes);
  while (left) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kBlockBytes / d.width));
    if (!fetch(offset, buf.data(), n * d.width)) return false;
    convert(buf.data(), n, d, out);
    out += n;
    left -= n;
    offset += n * d.width;
  }
  return true;
}

// A lone .npy file, read in place.
class NpyRecording final : public Recording {
 public:
  NpyRecording(int fd, NpyLayout layout) : fd_(fd), layout_(std::move(layout)) {}

  // Takes `fd` when it opens.
  static std::unique_ptr<Recording> open(Fd& fd, std::uint64_t size, const std::string& channel, std::string& why) {
    Channel ch;
    if (channel.empty()) return why = "an .npy file holds one channel; name it", nullptr;
    if (!split_name(channel, ch.name, ch.subchannel, why)) return nullptr;
    NpyLayout l;
    std::uint64_t at = 0;
    auto next = [&](unsigned char* buf, std::size_t n) {
      if (pread_full(fd.get(), buf, n, at) != static_cast<long long>(n)) return false;
      at += n;
      return true;
    };
    std::uint64_t rows = 0;
    if (!read_npy_header(next, l, why) || !check_npy_layout(l, size, ch, rows, why)) {
      why = "the .npy array " + why;
      return nullptr;
    }
    ch.where = "the .npy array";
    std::vector<Channel> channels{ch};
    std::size_t events = 0;
    if (!check_channels(channels, {rows}, events, why)) return nullptr;
    std::unique_ptr<NpyRecording> r(new NpyRecording(fd.release(), std::move(l)));
    r->channels_ = std::move(channels);
    r->events_ = events;
    return r;
  }

  bool read(std::size_t c, std::size_t first, std::size_t count, float* out, std::string& error) override {
    if (c != 0) return error = "no channel " + std::to_string(c), false;
    if (!rows_fit(first, count, events_, error)) return false;
    auto fetch = [&](std::uint64_t offset, unsigned char* buf, std::size_t n) {
      const long long got = pread_full(fd_.get(), buf, n, layout_.data_offset + offset);
      if (got == static_cast<long long>(n)) return true;
      error = got < 0 ? std::string(std::strerror(errno)) : "the .npy array ends before its last row";
      return false;
    };
    return read_converted(layout_.dtype, first, count, channels_[0].samples, out, buf_, fetch);
  }

 private:
  Fd fd_;
  NpyLayout layout_;
  std::vector<unsigned char> buf_;
};

// --- .npz ----------------------------------------------------------------------

#ifdef QAL3_RECORDING_NPZ

struct ZipDiscard {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileClose {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipStream = std::unique_ptr<zip_file_t, ZipFileClose>;

std::string zip_reason(zip_error_t* e) {
  const char* s = zip_error_strerror(e);
  return s ? s : "unknown error";
}

// An .npz archive: each member read as a stream, forward; a stored member
// seeks, a compressed one is reopened to go back.
class NpzRecording final : public Recording {
 public:
  static std::unique_ptr<Recording> open(const std::string& path, std::string& why) {
    int code = 0;
    ZipArchive zip(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
    if (!zip) {
      zip_error_t e;
      zip_error_init_with_code(&e, code);
      why = "not a readable .npz archive (" + zip_reason(&e) + ")";
      zip_error_fini(&e);
      return nullptr;
    }
    std::unique_ptr<NpzRecording> r(new NpzRecording(std::move(zip)));
    return r->add_members(why) ? std::move(r) : nullptr;
  }

  bool read(std::size_t c, std::size_t first, std::size_t count, float* out, std::string& error) override {
    if (c >= members_.size()) return error = "no channel " + std::to_string(c), false;
    if (!rows_fit(first, count, events_, error)) return false;
    Member& m = members_[c];
    auto fetch = [&](std::uint64_t offset, unsigned char* buf, std::size_t n) {
      if (!seek(m, m.layout.data_offset + offset, buf, error) || !take(m, buf, n, error)) {
        error = "member " + channels_[c].where + " " + error;
        return false;
      }
      return true;
    };
    return read_converted(m.layout.dtype, first, count, channels_[c].samples, out, buf_, fetch);
  }

 private:
  struct Member {
    zip_uint64_t index = 0;
    NpyLayout layout;
    bool stored = false;  // not compressed: seekable
    ZipStream stream;
    std::uint64_t at = 0;  // the stream's byte offset
  };

  explicit NpzRecording(ZipArchive zip) : zip_(std::move(zip)) {}

  // Every member whose name ends in ".npy"; false with `why` for one that
  // cannot be read, or none.
  bool add_members(std::string& why) {
    const zip_int64_t n = zip_get_num_entries(zip_.get(), 0);
    std::vector<std::uint64_t> rows;
    for (zip_int64_t i = 0; i < n; ++i) {
      // As the zip format says (and Python's zipfile reads): UTF-8 where
      // flagged, else code page 437.
      const char* raw = zip_get_name(zip_.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_STRICT);
      if (!raw) continue;
      const std::string name = raw;
      if (name.size() < 4 || name.compare(name.size() - 4, 4, ".npy") != 0) continue;
      Member m;
      m.index = static_cast<zip_uint64_t>(i);
      Channel ch;
      ch.where = "member " + quoted(name);
      std::uint64_t count = 0;
      std::string what;
      if (!split_name(name.substr(0, name.size() - 4), ch.name, ch.subchannel, what)) {
        return why = ch.where + ": " + what, false;
      }
      if (!open_member(m, ch, count, what)) return why = ch.where + " " + what, false;
      members_.push_back(std::move(m));
      channels_.push_back(std::move(ch));
      rows.push_back(count);
    }
    if (members_.empty()) return why = "a zip archive without .npy members", false;
    return check_channels(channels_, rows, events_, why);
  }

  // Reads the member's header and checks it against its size.
  bool open_member(Member& m, Channel& ch, std::uint64_t& rows, std::string& why) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_.get(), m.index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) {
      return why = "cannot be read (" + zip_reason(zip_get_error(zip_.get())) + ")", false;
    }
    m.stored = (st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_STORE &&
               (!(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE);
    if (!reopen(m, why)) return false;
    std::string failed;
    auto next = [&](unsigned char* buf, std::size_t n) { return take(m, buf, n, failed); };
    if (!read_npy_header(next, m.layout, why)) {
      if (!failed.empty() && failed.find("ends before") == std::string::npos) why = failed;
      return false;
    }
    return check_npy_layout(m.layout, st.size, ch, rows, why);
  }

  bool reopen(Member& m, std::string& why) {
    m.stream.reset(zip_fopen_index(zip_.get(), m.index, 0));
    m.at = 0;
    if (!m.stream) return why = "cannot be read (" + zip_reason(zip_get_error(zip_.get())) + ")", false;
    return true;
  }

  // The next `n` bytes of the member's stream.
  bool take(Member& m, unsigned char* buf, std::size_t n, std::string& why) {
    std::size_t done = 0;
    while (done < n) {
      const zip_int64_t got = zip_fread(m.stream.get(), buf + done, n - done);
      if (got < 0) {
        why = "cannot be read (" + zip_reason(zip_file_get_error(m.stream.get())) + ")";
        m.stream.reset();
        return false;
      }
      if (got == 0) return why = "ends before its last row", false;
      done += static_cast<std::size_t>(got);
    }
    m.at += n;
    return true;
  }

  // Puts the member's stream at byte `target`; a stream that cannot seek
  // reads the bytes before it into `scratch` (kBlockBytes) and drops them.
  bool seek(Member& m, std::uint64_t target, unsigned char* scratch, std::string& why) {
    if (m.stream && m.at == target) return true;
    if (m.stream && m.stored && target <= static_cast<std::uint64_t>(std::numeric_limits<zip_int64_t>::max()) &&
        zip_fseek(m.stream.get(), static_cast<zip_int64_t>(target), SEEK_SET) == 0) {
      m.at = target;
      return true;
    }
    if ((!m.stream || m.at > target) && !reopen(m, why)) return false;
    while (m.at < target) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(target - m.at, kBlockBytes));
      if (!take(m, scratch, n, why)) return false;
    }
    return true;
  }

  ZipArchive zip_;
  std::vector<Member> members_;
  std::vector<unsigned char> buf_;
};

#endif  // QAL3_RECORDING_NPZ

// --- HDF5 ----------------------------------------------------------------------

#ifdef QAL3_RECORDING_HDF5

// HDF5's automatic error printing off for the owner's lifetime.
class Silenced {
 public:
  Silenced() {
    H5Eget_auto2(H5E_DEFAULT, &func_, &data_);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  }
  ~Silenced() { H5Eset_auto2(H5E_DEFAULT, func_, data_); }
  Silenced(const Silenced&) = delete;
  Silenced& operator=(const Silenced&) = delete;

 private:
  H5E_auto2_t func_ = nullptr;
  void* data_ = nullptr;
};

// An HDF5 identifier, closed with its owner.
class H5Id {
 public:
  H5Id() = default;
  H5Id(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~H5Id() { reset(); }
  H5Id(H5Id&& o) noexcept : id_(std::exchange(o.id_, -1)), close_(o.close_) {}
  H5Id& operator=(H5Id&& o) noexcept {
    if (this != &o) {
      reset();
      id_ = std::exchange(o.id_, -1);
      close_ = o.close_;
    }
    return *this;
  }
  hid_t get() const { return id_; }
  explicit operator bool() const { return id_ >= 0; }
  void reset() {
    if (id_ >= 0 && close_) close_(id_);
    id_ = -1;
  }

 private:
  hid_t id_ = -1;
  herr_t (*close_)(hid_t) = nullptr;
};

// The reason of the last failure on HDF5's error stack: its outermost and
// innermost descriptions.
std::string h5_reason() {
  std::vector<std::string> lines;
  auto walk = [](unsigned, const H5E_error2_t* e, void* data) -> herr_t {
    if (e && e->desc && *e->desc) static_cast<std::vector<std::string>*>(data)->push_back(e->desc);
    return 0;
  };
  H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, walk, &lines);
  H5Eclear2(H5E_DEFAULT);
  if (lines.empty()) return "the HDF5 library gave no reason";
  std::string why = shown(lines.front());
  if (lines.size() > 1 && lines.back() != lines.front()) why += ": " + shown(lines.back());
  return why;
}

// A data set found in the walk.
struct Found {
  std::string path;  // from the root group, without the leading '/'
  int dims = 1;
  hsize_t shape[2] = {0, 1};
  Dtype dtype;            // the memory type it is read as
  std::size_t cache = 0;  // bytes of a row of its compressed chunks (0: none)
};

// The data set `obj` as a channel; false when it is not one (its dimensions,
// type or storage).
bool describe(hid_t obj, Found& f) {
  H5Id space(H5Dget_space(obj), H5Sclose);
  H5Id type(H5Dget_type(obj), H5Tclose);
  H5Id dcpl(H5Dget_create_plist(obj), H5Pclose);
  if (!space || !type || !dcpl || H5Sget_simple_extent_type(space.get()) != H5S_SIMPLE) return false;
  f.dims = H5Sget_simple_extent_ndims(space.get());
  if (f.dims != 1 && f.dims != 2) return false;
  H5Sget_simple_extent_dims(space.get(), f.shape, nullptr);
  if (f.dims == 1) f.shape[1] = 1;
  const H5T_class_t cls = H5Tget_class(type.get());
  const std::size_t size = H5Tget_size(type.get());
  if (cls == H5T_INTEGER && (size == 1 || size == 2 || size == 4 || size == 8)) {
    f.dtype = Dtype{H5Tget_sign(type.get()) == H5T_SGN_NONE ? 'u' : 'i', static_cast<unsigned>(size), false};
  } else if (cls == H5T_FLOAT && size >= 2 && size <= 8) {
    f.dtype = Dtype{'f', size == 4 ? 4u : 8u, false};  // any other width through double
  } else {
    return false;
  }
  // Data kept in other files are not read.
  const H5D_layout_t layout = H5Pget_layout(dcpl.get());
  if (layout == H5D_VIRTUAL || H5Pget_external_count(dcpl.get()) != 0) return false;
  if (layout == H5D_CHUNKED && H5Pget_nfilters(dcpl.get()) > 0) {
    hsize_t chunk[2] = {1, 1};
    if (H5Pget_chunk(dcpl.get(), f.dims, chunk) == f.dims && chunk[0] && chunk[1]) {
      const hsize_t across = f.dims == 2 ? (f.shape[1] + chunk[1] - 1) / chunk[1] : 1;
      const long double band = (long double)across * chunk[0] * chunk[1] * size;
      if (band < (long double)(1u << 30)) f.cache = static_cast<std::size_t>(band);
    }
  }
  return true;
}

// The native memory type a data set of element `d` is read as.
hid_t memory_type(const Dtype& d) {
  const bool u = d.kind == 'u';
  if (d.kind == 'f') return d.width == 4 ? H5T_NATIVE_FLOAT : H5T_NATIVE_DOUBLE;
  if (d.width == 1) return u ? H5T_NATIVE_UINT8 : H5T_NATIVE_INT8;
  if (d.width == 2) return u ? H5T_NATIVE_UINT16 : H5T_NATIVE_INT16;
  return d.width == 4 ? (u ? H5T_NATIVE_UINT32 : H5T_NATIVE_INT32) : (u ? H5T_NATIVE_UINT64 : H5T_NATIVE_INT64);
}

struct Walk {
  std::vector<Found> found;
};

herr_t visit_link(hid_t group, const char* name, const H5L_info_t* info, void* data) noexcept {
  if (!info || info->type != H5L_TYPE_HARD) return 0;  // soft and external links are not followed
  try {
    H5Id obj(H5Oopen(group, name, H5P_DEFAULT), H5Oclose);
    if (!obj || H5Iget_type(obj.get()) != H5I_DATASET) return 0;
    Found f;
    f.path = name;
    if (describe(obj.get(), f)) static_cast<Walk*>(data)->found.push_back(std::move(f));
    return 0;
  } catch (...) {
    return -1;
  }
}

// Compressed chunks cached for a row of chunks per data set up to this
// much, and this much over all of a file's data sets.
constexpr std::size_t kChunkCacheBytes = 16u << 20;
constexpr std::size_t kChunkCacheTotal = 256u << 20;

class Hdf5Recording final : public Recording {
 public:
  static std::unique_ptr<Recording> open(const std::string& path, std::string& why) {
    Silenced quiet;
    H5Id fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
    if (!fapl) return why = h5_reason(), nullptr;
    H5Pset_fclose_degree(fapl.get(), H5F_CLOSE_STRONG);
#if H5_VERSION_GE(1, 10, 7)
    H5Pset_file_locking(fapl.get(), true, true);  // where the file system has no locks, none
#endif
    std::unique_ptr<Hdf5Recording> r(
        new Hdf5Recording(H5Id(H5Fopen(path.c_str(), H5F_ACC_RDONLY, fapl.get()), H5Fclose)));
    if (!r->file_) return why = h5_reason(), nullptr;
    Walk walk;
    if (H5Lvisit(r->file_.get(), H5_INDEX_NAME, H5_ITER_INC, visit_link, &walk) < 0) {
      return why = h5_reason(), nullptr;
    }
    return r->add(walk.found, why) ? std::move(r) : nullptr;
  }

  ~Hdf5Recording() override {
    Silenced quiet;
    sets_.clear();
    file_.reset();
  }

  bool read(std::size_t c, std::size_t first, std::size_t count, float* out, std::string& error) override {
    if (c >= sets_.size()) return error = "no channel " + std::to_string(c), false;
    if (!rows_fit(first, count, events_, error)) return false;
    const std::size_t samples = channels_[c].samples;
    if (count == 0 || samples == 0) return true;
    Silenced quiet;
    Set& s = sets_[c];
    const bool direct = s.dtype.kind == 'f' && s.dtype.width == 4;
    // Blocks of rows of about kBlockBytes, read into `out` (float32) or
    // into a buffer to convert.
    const std::size_t row_bytes = samples * s.dtype.width;
    const std::size_t step = direct ? count : std::max<std::size_t>(1, (16 * kBlockBytes) / row_bytes);
    for (std::size_t done = 0; done < count;) {
      const std::size_t n = std::min(step, count - done);
      unsigned char* dst = reinterpret_cast<unsigned char*>(out + done * samples);
      if (!direct) {
        buf_.resize(n * row_bytes);
        dst = buf_.data();
      }
      if (!read_rows(s, first + done, n, samples, dst)) {
        error = channels_[c].where + " cannot be read (" + h5_reason() + ")";
        return false;
      }
      if (!direct) convert(buf_.data(), n * samples, s.dtype, out + done * samples);
      done += n;
    }
    return true;
  }

 private:
  struct Set {
    H5Id id;
    Dtype dtype;
    int dims = 1;
  };

  explicit Hdf5Recording(H5Id file) : file_(std::move(file)) {}

  bool add(const std::vector<Found>& found, std::string& why) {
    std::vector<std::uint64_t> rows;
    std::size_t cache_left = kChunkCacheTotal;
    for (const Found& f : found) {
      Channel ch;
      ch.where = "data set " + quoted("/" + f.path);
      std::string what;
      if (!split_name(f.path, ch.name, ch.subchannel, what)) return why = ch.where + ": " + what, false;
      if (f.shape[1] > std::numeric_limits<std::size_t>::max() / 8) {
        return why = ch.where + " has rows too long for this machine", false;
      }
      ch.spectrum = f.dims == 2;
      ch.samples = static_cast<std::size_t>(f.shape[1]);
      H5Id dapl(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
      if (dapl && f.cache && f.cache <= kChunkCacheBytes && f.cache <= cache_left) {
        // Each compressed chunk decompressed once, however the rows are asked.
        H5Pset_chunk_cache(dapl.get(), 521 + 16 * (f.cache / 1024), f.cache + (1u << 20), 0.75);
        cache_left -= f.cache;
      }
      Set s{H5Id(H5Dopen2(file_.get(), f.path.c_str(), dapl ? dapl.get() : H5P_DEFAULT), H5Dclose), f.dtype, f.dims};
      if (!s.id) return why = ch.where + " cannot be opened (" + h5_reason() + ")", false;
      sets_.push_back(std::move(s));
      channels_.push_back(std::move(ch));
      rows.push_back(f.shape[0]);
    }
    return check_channels(channels_, rows, events_, why);
  }

  // Rows [first, first + n) of `s` in its memory type into `dst`.
  bool read_rows(const Set& s, std::size_t first, std::size_t n, std::size_t samples, unsigned char* dst) {
    H5Id file_space(H5Dget_space(s.id.get()), H5Sclose);
    const hsize_t start[2] = {first, 0};
    const hsize_t count[2] = {n, samples};
    H5Id mem_space(H5Screate_simple(s.dims, count, nullptr), H5Sclose);
    return file_space && mem_space &&
           H5Sselect_hyperslab(file_space.get(), H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0 &&
           H5Dread(s.id.get(), memory_type(s.dtype), mem_space.get(), file_space.get(), H5P_DEFAULT, dst) >= 0;
  }

  H5Id file_;
  std::vector<Set> sets_;
  std::vector<unsigned char> buf_;
};

#endif  // QAL3_RECORDING_HDF5

// --- what a file is --------------------------------------------------------------

enum class Kind { hdf5, zip, npy, other };

// The kind of the file at `fd` of `size` bytes, by its signature. HDF5's
// may follow a user block of 512, 1024, 2048, ... bytes.
Kind kind_of(int fd, std::uint64_t size) {
  unsigned char head[8] = {};
  const long long got = pread_full(fd, head, sizeof head, 0);
  if (got >= 4 && std::memcmp(head, "PK", 2) == 0 &&
      ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6))) {
    return Kind::zip;
  }
  if (got >= 6 && std::memcmp(head, "\x93NUMPY", 6) == 0) return Kind::npy;
  static const unsigned char hdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
  for (std::uint64_t at = 0; at + 8 <= size; at = at ? at * 2 : 512) {
    if (at && pread_full(fd, head, sizeof head, at) != 8) break;
    if (std::memcmp(head, hdf5, 8) == 0) return Kind::hdf5;
  }
  return Kind::other;
}

}  // namespace

std::unique_ptr<Recording> Recording::open(const std::string& path, const std::string& npy_channel,
                                           std::string& error) {
  error.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
    return error = "not a recording: " + std::string(std::strerror(errno)), nullptr;
  if (!S_ISREG(st.st_mode))
    return error = "not a recording: not a regular file (a recording is read in place)", nullptr;
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  std::string why;
  std::unique_ptr<Recording> r;
  switch (kind_of(fd.get(), size)) {
    case Kind::hdf5:
#ifdef QAL3_RECORDING_HDF5
      r = Hdf5Recording::open(path, why);
      break;
#else
      return error = "this build of qal3 reads no HDF5 recordings", nullptr;
#endif
    case Kind::zip:
#ifdef QAL3_RECORDING_NPZ
      r = NpzRecording::open(path, why);
      break;
#else
      return error = "this build of qal3 reads no .npz recordings", nullptr;
#endif
    case Kind::npy:
      r = NpyRecording::open(fd, size, npy_channel, why);
      break;
    case Kind::other:
      why = "neither an HDF5 file, an .npz archive nor an .npy array";
      break;
  }
  if (!r) error = "not a recording: " + why;
  return r;
}

}  // namespace recording
