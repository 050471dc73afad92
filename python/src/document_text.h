// The records of the event list and camera feature file writers, shaped as
// the Python ones (checked by the bindings), handed to the library's
// writers; and a document held in memory as a file for the path-only camera
// reader. Plain C++ without Python, so that the fuzz targets run this very
// code.
#ifndef QAL3_PY_DOCUMENT_TEXT_H
#define QAL3_PY_DOCUMENT_TEXT_H

#include <string>
#include <vector>

namespace qal3py {

// An EvSbList: a server block name (1 to 254 bytes, no NUL) and its
// channels (each 1 byte to 1 MB, no NUL).
struct EvBlock {
  std::string name;
  std::vector<std::string> chans;
};

// An EvEntry.
struct EvEntry {
  unsigned long long evtype = 0;  // 0 .. QAL3_EV_EVMAX
  unsigned int tmask = 0;
  unsigned int timeup = 0;   // min_ev_time
  unsigned int timelow = 0;
  unsigned int priority = 0;
  std::vector<EvBlock> blocks;
};

// The BMR document of `entries` (qal3_write_ev_list). Throws
// std::runtime_error when it cannot be made.
std::string evlist_document(const std::vector<EvEntry>& entries);

// A GigEFeature. Texts hold no NUL; empty ones are left out.
struct GigEText {
  int type = 0;  // 0 .. FEATURE_TYPE_MAX - 1
  std::string name;
  std::string extension;
  std::string tooltip;
  std::string description;
};

// The feature file of `features` (qal3_write_gige_descr). Throws
// std::runtime_error when it cannot be made (a type out of range, a NUL).
std::string gige_document(const std::vector<GigEText>& features);

// Makes the XML declaration at the start of `doc` (after a byte order
// mark, if any) name UTF-8 as its encoding, for a document that is known to
// be UTF-8 whatever it declares (the text of a Python str). A longer name
// is replaced by "UTF-8" and blanks, so that every position after it stays
// where it was. A document without a declaration, or whose declaration
// names no encoding, is left as it is (UTF-8 is then the default).
void declare_utf8(std::string& doc);

// `text` in an anonymous memory file, open while the object lives and
// named by path() (/proc/self/fd/N). Throws std::runtime_error when no
// such file can be made.
class MemoryFile {
 public:
  explicit MemoryFile(const std::string& text);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  char* path() { return &path_[0]; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace qal3py

#endif  // QAL3_PY_DOCUMENT_TEXT_H
