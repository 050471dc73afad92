// The event list (BMR) and GigE feature file writers.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "attr_tags_functions.h"
#include "boundary.h"
#include "messages.h"
#include "parse_chan_descr.h"  // set_xml_header, add_iso_date
#include "parse_ev_list.h"
#include "qal3_gige_descr.h"
#include "xml_output.h"

namespace msg = qal3::messages;

namespace {

void say(const char* text) { msg::deliver(msg::out, msg::error, msg::flush, text, std::strlen(text)); }

// Appends "<indent><tag>text</tag>\n" with the text escaped.
void element(std::string& out, const char* indent, const char* tag, const char* text) {
  out += indent;
  START_TAG(out, tag);
  xml_escape(out, text);
  END_TAGN(out, tag);
}

void element(std::string& out, const char* indent, const char* tag, unsigned long long v, bool hex = false) {
  char buf[32];
  std::snprintf(buf, sizeof buf, hex ? "0x%llX" : "%llu", v);
  element(out, indent, tag, buf);
}

// Delivers the finished document `doc` to every destination of `out`; on
// the console it is printed as a listing. Result as the writers'.
int deliver(qal3::output::Destination& out, const std::string& doc) {
  if (!out.open()) return 1;
  if (out.console()) {
    msg::deliver(msg::out, msg::listing, msg::flush, doc);
    return 0;
  }
  out.file().put(doc);
  if (!out.to_descriptor(doc)) return 2;
  if (out.text()) *out.text() = doc;
  return out.close() ? 0 : 2;
}

// ---------------------------------------------------------------------------
// Event lists.

const qal3::output::Messages kEvListMessages{"qal3_write_ev_list()", false,
                                             "qal3_write_ev_list() failed to write\n",
                                             "qal3_write_ev_list() failed to write file: '%s'\n"};

void add_block(std::string& out, const qal3_ev_sb_list& b) {
  out += "\t\t";
  START_TAG(out, "SBLOCK");
  const std::string name(b.sb_list, strnlen(b.sb_list, sizeof b.sb_list));
  xml_escape(out, name.c_str());
  if (b.ch_list && !b.ch_list->empty()) {
    START_TAGN(out, "CHLIST");
    for (const char* c : *b.ch_list)
      if (c) element(out, "\t\t\t\t", "CHAN", c);
    out += "\t\t\t";
    END_TAGN(out, "CHLIST");
    out += "\t\t";
  }
  END_TAGN(out, "SBLOCK");
}

void add_entry(std::string& out, const qal3_ev_entry& e) {
  out += "\t";
  START_TAGN(out, "EVENT");
  element(out, "\t\t", "TYPE", static_cast<unsigned long long>(static_cast<std::uint32_t>(e.evtype)));
  element(out, "\t\t", "TMASK", e.tmask, true);
  element(out, "\t\t", "MINTIMESEC", e.min_ev_time.timeup);
  element(out, "\t\t", "MINTIMEUSEC", e.min_ev_time.timelow);
  element(out, "\t\t", "PRIORITY", e.priority);
  if (e.sb_list)
    for (const qal3_ev_sb_list* b : *e.sb_list)
      if (b) add_block(out, *b);
  out += "\t";
  END_TAGN(out, "EVENT");
}

std::string ev_list_document(const std::vector<qal3_ev_entry*>& list) {
  std::string out;
  set_xml_header(out);
  START_TAGN(out, "BMR");
  add_iso_date(out);
  for (const qal3_ev_entry* e : list)
    if (e) add_entry(out, *e);
  END_TAGN(out, "BMR");
  return out;
}

// ---------------------------------------------------------------------------
// GigE feature files.

const qal3::output::Messages kGigEMessages{"qal3_write_gige_descr()", false,
                                           "qal3_write_gige_descr() failed to write\n",
                                           "qal3_write_gige_descr() failed to write file: '%s'\n"};

bool writable(const QAL3GigEFeature& f) {
  if (f.type < 0 || f.type >= FEATURE_TYPE_MAX) return false;
  for (const std::string* t : {&f.name, &f.extension, &f.tooltip, &f.description})
    if (t->find('\0') != std::string::npos) return false;
  return true;
}

void add_feature(std::string& out, const QAL3GigEFeature& f) {
  const char* tag = FeatureTags[f.type];
  out += "  <";
  out += tag;
  if (!f.name.empty()) {
    out += " Name=\"";
    xml_escape(out, f.name.c_str());
    out += '"';
  }
  out += ">\n";
  if (!f.tooltip.empty()) element(out, "    ", MoreTags[MORE_TAGS_TOOLTIP], f.tooltip.c_str());
  if (!f.description.empty()) element(out, "    ", MoreTags[MORE_TAGS_DESCRIPTION], f.description.c_str());
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

std::string gige_document(const std::vector<QAL3GigEFeature*>& list) {
  std::string out;
  set_xml_header(out);
  START_TAGN(out, "RegisterDescription");
  for (const QAL3GigEFeature* f : list)
    if (f) add_feature(out, *f);
  END_TAGN(out, "RegisterDescription");
  return out;
}

}  // namespace

int qal3_write_ev_list(const std::vector<qal3_ev_entry*>* list, const char* file_name, int fd,
                       std::string* xml_str) {
  if (!list) {
    say("qal3_write_ev_list() invalid argument\n");
    return 2;
  }
  return qal3::guarded(2, [&] {
    qal3::output::Destination out(file_name, fd, xml_str, kEvListMessages);
    return deliver(out, ev_list_document(*list));
  });
}

int qal3_write_gige_descr(const std::vector<QAL3GigEFeature*>* list, const char* file_name, int fd,
                          std::string* xml_str) {
  bool valid = list != nullptr;
  if (list)
    for (const QAL3GigEFeature* f : *list) valid = valid && (!f || writable(*f));
  if (!valid) {
    say("qal3_write_gige_descr() invalid argument\n");
    return 2;
  }
  return qal3::guarded(2, [&] {
    qal3::output::Destination out(file_name, fd, xml_str, kGigEMessages);
    return deliver(out, gige_document(*list));
  });
}
