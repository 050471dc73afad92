#include "document_text.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "attr_tags_functions.h"
#include "parse_chan_descr.h"
#include "qal3_gige_descr.h"

namespace qal3py {
namespace {

// Appends "<tag>text</tag>\n" with the text escaped.
void element(std::string& out, const char* indent, const char* tag, const std::string& text) {
  out += indent;
  START_TAG(out, tag);
  xml_escape(out, text.c_str());
  END_TAGN(out, tag);
}

void element(std::string& out, const char* indent, const char* tag, unsigned long long v, bool hex = false) {
  char buf[32];
  std::snprintf(buf, sizeof buf, hex ? "0x%llX" : "%llu", v);
  element(out, indent, tag, std::string(buf));
}

}  // namespace

std::string evlist_document(const std::vector<EvEntry>& entries) {
  std::string out;
  set_xml_header(out);
  START_TAGN(out, "BMR");
  add_iso_date(out);
  for (const EvEntry& e : entries) {
    out += "\t";
    START_TAGN(out, "EVENT");
    element(out, "\t\t", "TYPE", e.evtype);
    element(out, "\t\t", "TMASK", e.tmask, true);
    element(out, "\t\t", "MINTIMESEC", e.timeup);
    element(out, "\t\t", "MINTIMEUSEC", e.timelow);
    element(out, "\t\t", "PRIORITY", e.priority);
    for (const EvBlock& b : e.blocks) {
      out += "\t\t";
      START_TAG(out, "SBLOCK");
      xml_escape(out, b.name.c_str());
      if (!b.chans.empty()) {
        START_TAGN(out, "CHLIST");
        for (const std::string& c : b.chans) element(out, "\t\t\t\t", "CHAN", c);
        out += "\t\t\t";
        END_TAGN(out, "CHLIST");
        out += "\t\t";
      }
      END_TAGN(out, "SBLOCK");
    }
    out += "\t";
    END_TAGN(out, "EVENT");
  }
  END_TAGN(out, "BMR");
  return out;
}

std::string gige_document(const std::vector<GigEText>& features) {
  std::string out;
  set_xml_header(out);
  START_TAGN(out, "RegisterDescription");
  for (const GigEText& f : features) {
    const char* tag = FeatureTags[f.type];
    out += "  <";
    out += tag;
    if (!f.name.empty()) {
      out += " Name=\"";
      xml_escape(out, f.name.c_str());
      out += '"';
    }
    out += ">\n";
    if (!f.tooltip.empty()) element(out, "    ", MoreTags[MORE_TAGS_TOOLTIP], f.tooltip);
    if (!f.description.empty()) element(out, "    ", MoreTags[MORE_TAGS_DESCRIPTION], f.description);
    if (!f.extension.empty()) {
      out += "    ";
      START_TAG(out, MoreTags[MORE_TAGS_EXTENSION]);
      START_TAG(out, MoreTags[MORE_TAGS_PVRENAME]);
      xml_escape(out, f.extension.c_str());
      END_TAG(out, MoreTags[MORE_TAGS_PVRENAME]);
      END_TAGN(out, MoreTags[MORE_TAGS_EXTENSION]);
    }
    out += "  ";
    END_TAGN(out, tag);
  }
  END_TAGN(out, "RegisterDescription");
  return out;
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
