#include "file_replace.h"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <utility>

#include "descriptors.h"

namespace qal3 {
namespace io {

std::string Outcome::message() const {
  char buf[256];
  const std::string reason = strerror_r(error, buf, sizeof buf);
  return step ? std::string(step) + ": " + reason : reason;
}

namespace {

Outcome failed(const char* step = nullptr) { return {errno ? errno : EIO, step}; }

// The folder of `path` ("." for none) and the name in it.
std::pair<std::string, std::string> split_path(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The file that `path` leads to through its symbolic links (each one read
// relative to its own folder); `path` itself when it is no link or does not
// exist. False (errno set) when the links do not end.
bool follow_links(const std::string& path, std::string& out) {
  out = path;
  for (int hops = 0; hops < 40; ++hops) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(out.c_str(), buf, sizeof buf);
    if (n < 0) return errno == EINVAL || errno == ENOENT;  // no link: the end
    if (static_cast<std::size_t>(n) >= sizeof buf) {
      errno = ENAMETOOLONG;
      return false;
    }
    const std::string link(buf, static_cast<std::size_t>(n));
    out = link[0] == '/' || out.find('/') == std::string::npos ? link : split_path(out).first + "/" + link;
  }
  errno = ELOOP;
  return false;
}

// The file whose place the new file takes: `target`, or where its links lead.
bool destination_of(const std::string& target, Links links, std::string& out) {
  if (links == Links::follow) return follow_links(target, out);
  out = target;
  return true;
}

// A short scratch name (".qal3-" and 8 random letters and digits), so that
// target names up to the system's limit work.
std::string scratch_name() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[8];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    std::uint64_t v = static_cast<std::uint64_t>(ts.tv_nsec) ^ (static_cast<std::uint64_t>(::getpid()) << 32) ^
                      static_cast<std::uint64_t>(ts.tv_sec);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(v >>= 5);
  }
  std::string name = ".qal3-";
  for (unsigned char b : bytes) name += kChars[b % (sizeof kChars - 1)];
  return name;
}

// The new file in the folder `dir`, removed on destruction unless placed.
class NewFile {
 public:
  explicit NewFile(int dir) : dir_(dir) {}
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile() {
    if (!scratch_.empty()) ::unlinkat(dir_, scratch_.c_str(), 0);
  }
  int fd() const { return fd_.get(); }

  // Makes the file, private (0600) from the start: nameless (O_TMPFILE)
  // where the file system has it and /proc can give it a name later, else
  // a named scratch file. It is to get what it keeps (keep_metadata, or
  // take_new_name_access) before any byte of the document goes in.
  Outcome create() {
    if (descriptor_paths()) {
      fd_.reset(::openat(dir_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
      if (fd_.ok()) return {};
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return failed();
      nameless_ = false;
    }
    return with_scratch_name(scratch_, [this](const char* name) {
      fd_.reset(::openat(dir_, name, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
      return fd_.ok();
    });
  }

  // Gives the file the access a new name in the folder gets: the mode 0666
  // through the umask, or the folder's default ACL. They are learnt from an
  // empty file made for the purpose and removed at once, so that the umask,
  // which is the whole process's, is never changed.
  Outcome take_new_name_access() {
    Descriptor probe;
    if (nameless_ && descriptor_paths()) probe.reset(::openat(dir_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (!probe.ok()) {
      std::string name;
      const Outcome o = with_scratch_name(name, [&](const char* n) {
        probe.reset(::openat(dir_, n, O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0666));
        return probe.ok();
      });
      if (o.failed()) return {o.error, "cannot learn the mode of a new file"};
      ::unlinkat(dir_, name.c_str(), 0);
    }
    if (perm_copy_fd("", probe.get(), "", fd(), nullptr) != 0) return failed("cannot give the new file its mode");
    return {};
  }

  // Gives the complete file the name `name` in the folder, replacing what
  // is there: a nameless file is first linked under a scratch name
  // (linkat cannot replace), which the rename takes at once.
  Outcome place(const std::string& name) {
    if (scratch_.empty()) {
      const std::string self = path_of(fd());
      const Outcome linked = with_scratch_name(scratch_, [&](const char* scratch) {
        return ::linkat(AT_FDCWD, self.c_str(), dir_, scratch, AT_SYMLINK_FOLLOW) == 0;
      });
      if (linked.failed()) return {linked.error, "cannot give the new file a name"};
    }
    if (::renameat(dir_, scratch_.c_str(), dir_, name.c_str()) != 0) return failed();
    scratch_.clear();
    return {};
  }

 private:
  // Runs `make(name)` with fresh scratch names until it succeeds (the name
  // is then kept in `kept`) or fails otherwise than for a name in use.
  template <class Make>
  Outcome with_scratch_name(std::string& kept, Make&& make) {
    for (int tries = 0; tries < 100; ++tries) {
      std::string name = scratch_name();
      if (make(name.c_str())) {
        kept = std::move(name);
        return {};
      }
      if (errno != EEXIST) return failed();
    }
    return {EEXIST, nullptr};
  }

  int dir_;
  Descriptor fd_;
  std::string scratch_;   // the file's name while it has a scratch one
  bool nameless_ = true;  // O_TMPFILE not refused by the file system
};

// The extended attributes copied: those `cp -a` copies (see attr_copy_fd),
// less file capabilities, which grant privileges as set-id bits do.
int copied_attribute(const char* name, struct error_context* ctx) {
  return std::strcmp(name, "security.capability") != 0 && attr_copy_check_permissions(name, ctx);
}

// Gives the new file `to` what the old file `from` (`st`) has besides its
// bytes. The owner first (a change of owner clears set-id bits and
// capabilities), then the ACL with the mode, then the mode without set-id
// bits (where the ACL has a mask, the group bits are the mask: unchanged),
// then the extended attributes.
Outcome keep_metadata(int from, const struct stat& st, int to) {
  if (::fchown(to, st.st_uid, st.st_gid) != 0) {
    const int ignored = ::fchown(to, static_cast<uid_t>(-1), st.st_gid);  // the group alone, where allowed
    static_cast<void>(ignored);
  }
  if (perm_copy_fd("", from, "", to, nullptr) != 0) return failed("cannot keep the access control list");
  if (::fchmod(to, st.st_mode & 07777 & ~(S_ISUID | S_ISGID)) != 0) return failed("cannot keep the mode");
  if (attr_copy_fd("", from, "", to, copied_attribute, nullptr) != 0)
    return failed("cannot keep the extended attributes");
  return {};
}

// Syncs the folder `dir`, so that a rename in it lasts. A folder that
// cannot be read, or a file system that cannot sync one, is no failure.
Outcome sync_folder(const std::string& dir) {
  const Descriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.ok()) return errno == EACCES ? Outcome{} : failed("the file is replaced, but its folder cannot be synced");
  if (::fsync(fd.get()) == 0 || errno == EINVAL || errno == EROFS) return {};
  return failed("the file is replaced, but its folder cannot be synced");
}

// Writes all of `data` to the device or FIFO `fd` and closes it.
Outcome write_through(Descriptor& fd, const char* data, std::size_t size) {
  if (!write_all(fd.get(), data, size)) return failed();
  return ::close(fd.release()) == 0 || errno == EINTR ? Outcome{} : failed();
}

}  // namespace

namespace {

// Whether `target` is itself a symbolic link that is replaced (not followed).
bool replaced_link(const std::string& target, Links links) {
  struct stat st {};
  return links == Links::replace && ::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The failure (errno) to make a new file where `target` is to be put:
// blamed on its folder, or on that of the file its link leads to, unless
// that folder is missing, which the reason alone says.
Outcome folder_failure(const std::string& target, const std::string& destination) {
  if (errno == ENOENT || errno == ENOTDIR) return failed();
  return failed(target == destination ? "cannot make a file in its folder"
                                      : "cannot make a file in the folder of the file the link leads to");
}

// What a symbolic link replaced (not followed) leads to, opened: a device
// or FIFO to write through, or the regular file whose owner, ACL, mode and
// attributes the new file takes (when it cannot be opened at all, the new
// file is made as a new name). The link's file need not be writable: it is
// not written, the link is replaced.
Outcome open_link_end(const std::string& target, Descriptor& end, struct stat& st) {
  end.reset(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
  if (!end.ok()) {
    const int write_error = errno;
    if (write_error == ENOENT || write_error == ELOOP) return {};  // leads nowhere
    if (write_error == EISDIR) return {EISDIR, "the link leads to a folder"};
    end.reset(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!end.ok()) return {};
    if (::fstat(end.get(), &st) != 0) return failed();
    if (!S_ISREG(st.st_mode)) {
      end.reset(-1);
      return {write_error, "cannot open what the link leads to"};
    }
    return {};
  }
  return ::fstat(end.get(), &st) == 0 ? Outcome{} : failed();
}

}  // namespace

Outcome replace_file(const std::string& target, const char* data, std::size_t size, Links links) {
  std::string destination;
  if (!destination_of(target, links, destination)) return failed();
  // What is there, opened once: written only when it is no regular file.
  Descriptor old;
  struct stat st {};
  if (replaced_link(target, links)) {
    const Outcome o = open_link_end(target, old, st);
    if (o.failed()) return o;
  } else {
    old.reset(::open(destination.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW));
    if (old.ok()) {
      if (::fstat(old.get(), &st) != 0) return failed();
    } else if (errno != ENOENT && !(errno == ELOOP && links == Links::replace)) {
      return failed();
    }
  }
  if (old.ok() && !S_ISREG(st.st_mode)) return write_through(old, data, size);
  const auto where = split_path(destination);
  if (where.second.empty()) return {EISDIR, nullptr};
  const Descriptor dir(::open(where.first.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir.ok()) return folder_failure(target, destination);
  // The new file is private until it has what it keeps; only then do the
  // bytes go in.
  NewFile file(dir.get());
  Outcome o = file.create();
  if (o.failed()) return errno = o.error, folder_failure(target, destination);
  o = old.ok() ? keep_metadata(old.get(), st, file.fd()) : file.take_new_name_access();
  if (o.failed()) return o;
  if (!write_all(file.fd(), data, size)) return failed();
  if (::fsync(file.fd()) != 0) return failed();
  if ((o = file.place(where.second)).failed()) return o;
  return sync_folder(where.first);
}

Outcome check_replaceable(const std::string& target, Links links) {
  std::string destination;
  if (!destination_of(target, links, destination)) return failed();
  // A link that is replaced is judged as a link: what it leads to is not
  // written, so only a folder there stops it.
  const bool link = replaced_link(target, links);
  struct stat st {};
  if (::stat(destination.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return {EISDIR, link ? "the link leads to a folder" : nullptr};
    if (!S_ISREG(st.st_mode)) return {};  // a device or FIFO, written to
    if (!link && ::faccessat(AT_FDCWD, destination.c_str(), W_OK, AT_EACCESS) != 0) return failed();
  } else if (errno != ENOENT && errno != ELOOP) {
    return failed();
  }
  if (::faccessat(AT_FDCWD, split_path(destination).first.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return folder_failure(target, destination);
  return {};
}

}  // namespace io
}  // namespace qal3
