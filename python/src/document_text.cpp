#include "document_text.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <cstring>
#include <stdexcept>

#include "parse_ev_list.h"
#include "qal3_gige_descr.h"

namespace qal3py {

// The records below borrow the texts of the Python-shaped ones: the
// library's writers only read them.

std::string evlist_document(const std::vector<EvEntry>& entries) {
  std::deque<qal3_ev_sb_list> blocks;
  std::deque<std::vector<char*>> chans;
  std::deque<std::vector<qal3_ev_sb_list*>> block_lists;
  std::deque<qal3_ev_entry> records;
  std::vector<qal3_ev_entry*> list;
  for (const EvEntry& e : entries) {
    std::vector<qal3_ev_sb_list*>& entry_blocks = block_lists.emplace_back();
    for (const EvBlock& b : e.blocks) {
      std::vector<char*>& names = chans.emplace_back();
      for (const std::string& c : b.chans) names.push_back(const_cast<char*>(c.c_str()));
      qal3_ev_sb_list& block = blocks.emplace_back();
      std::snprintf(block.sb_list, sizeof block.sb_list, "%s", b.name.c_str());
      block.ch_list = &names;
      entry_blocks.push_back(&block);
    }
    qal3_ev_entry& r = records.emplace_back();
    r.evtype = static_cast<QAL3_EVTYPE>(e.evtype);
    r.sb_list = &entry_blocks;
    r.min_ev_time = {e.timeup, e.timelow};
    r.tmask = e.tmask;
    r.priority = e.priority;
    list.push_back(&r);
  }
  std::string doc;
  if (qal3_write_ev_list(&list, nullptr, -1, &doc) != 0) throw std::runtime_error("event list not written");
  return doc;
}

std::string gige_document(const std::vector<GigEText>& features) {
  std::deque<QAL3GigEFeature> records;
  std::vector<QAL3GigEFeature*> list;
  for (const GigEText& f : features) {
    QAL3GigEFeature& r = records.emplace_back();
    r.type = f.type;
    r.name = f.name;
    r.extension = f.extension;
    r.tooltip = f.tooltip;
    r.description = f.description;
    list.push_back(&r);
  }
  std::string doc;
  if (qal3_write_gige_descr(&list, nullptr, -1, &doc) != 0) throw std::runtime_error("feature file not written");
  return doc;
}

void declare_utf8(std::string& doc) {
  static const char kBom[] = "\xEF\xBB\xBF";
  static const char kStart[] = "<?xml";
  std::size_t at = doc.compare(0, 3, kBom) == 0 ? 3 : 0;
  if (doc.compare(at, sizeof kStart - 1, kStart) != 0) return;
  at += sizeof kStart - 1;
  const auto blank = [&](std::size_t i) { return i < doc.size() && std::strchr(" \t\r\n", doc[i]) && doc[i]; };
  if (!blank(at)) return;  // "<?xml-stylesheet ..." and the like
  const std::size_t end = doc.find("?>", at);
  if (end == std::string::npos) return;
  // The pseudo-attributes: name, blanks, '=', blanks, a quoted value.
  std::size_t i = at;
  while (i < end) {
    while (blank(i)) ++i;
    const std::size_t name = i;
    while (i < end && !blank(i) && doc[i] != '=') ++i;
    const bool encoding = doc.compare(name, i - name, "encoding") == 0;
    while (blank(i)) ++i;
    if (i >= end || doc[i] != '=') return;
    ++i;
    while (blank(i)) ++i;
    if (i >= end || (doc[i] != '"' && doc[i] != '\'')) return;
    const char quote = doc[i];
    const std::size_t value = i + 1;
    const std::size_t close = doc.find(quote, value);
    if (close == std::string::npos || close >= end) return;
    if (encoding) {
      static const char kUtf8[] = "UTF-8";
      const std::size_t old_length = close - value;
      const std::size_t new_length = sizeof kUtf8 - 1;
      std::string replacement(kUtf8);
      replacement += quote;
      if (old_length > new_length) replacement.append(old_length - new_length, ' ');
      doc.replace(value, old_length + 1, replacement);
      return;
    }
    i = close + 1;
  }
}

MemoryFile::MemoryFile(const std::string& text) : fd_(memfd_create("qal3-document", MFD_CLOEXEC)) {
  if (fd_ < 0) throw std::runtime_error("no memory file for the document");
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n <= 0) {
      close(fd_);
      throw std::runtime_error("document could not be put in a memory file");
    }
    done += static_cast<std::size_t>(n);
  }
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

MemoryFile::~MemoryFile() { close(fd_); }

}  // namespace qal3py
