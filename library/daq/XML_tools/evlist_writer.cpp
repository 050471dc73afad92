// The event list writer.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "messages.h"
#include "parse_chan_descr.h"  // set_xml_header, add_iso_date
#include "parse_ev_list.h"
#include "record_fields.h"
#include "xml_output.h"

namespace msg = qal3::messages;

namespace {

// Appends "<indent><tag>text</tag>\n" with the text escaped.
void element(std::string& out, const char* indent, const char* tag, const char* text) {
  out += indent;
  qal3::output::text_element(out, tag, text);
}

void element(std::string& out, const char* indent, const char* tag, unsigned long long v, bool hex = false) {
  char buf[32];
  std::snprintf(buf, sizeof buf, hex ? "0x%llX" : "%llu", v);
  element(out, indent, tag, buf);
}

const qal3::output::Messages kEvListMessages{"qal3_write_ev_list()", false, "qal3_write_ev_list() failed to write\n",
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
  START_TAGN(out, qal3::records::Description<qal3_ev_entry>::root);
  add_iso_date(out);
  for (const qal3_ev_entry* e : list)
    if (e) add_entry(out, *e);
  END_TAGN(out, qal3::records::Description<qal3_ev_entry>::root);
  return out;
}

}  // namespace

int qal3_write_ev_list(const std::vector<qal3_ev_entry*>* list, const char* file_name, int fd, std::string* xml_str) {
  if (!list) {
    msg::say("qal3_write_ev_list() invalid argument\n");
    return 2;
  }
  qal3::output::Destination out(file_name, fd, xml_str, kEvListMessages);
  return out.write([&] { return out.deliver_or_list(ev_list_document(*list), qal3::output::Text::assign); });
}
