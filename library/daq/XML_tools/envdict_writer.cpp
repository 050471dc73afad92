// Environment index dictionary writers of both layouts, written once over
// the entry type; EntryLayout holds the writer's names in messages.
#include <cstdio>
#include <cstring>

#include "boundary.h"
#include "float_text.h"
#include "messages.h"
#include "parse_chan_descr.h"  // set_xml_header, add_iso_date
#include "parse_env_index_dictionary.h"
#include "record_fields.h"
#include "text_field.h"
#include "trigger_facts.h"
#include "xml_output.h"

namespace msg = qal3::messages;

namespace {

using qal3::number::float_text;

constexpr const char* kRoot = qal3::records::Description<qal3_env_index_dictionary_entry>::root;

template <class Entry>
struct EntryLayout;

template <>
struct EntryLayout<qal3_env_index_dictionary_entry> {
  static constexpr const char* writer = "dump_env_index_dict()";
  static constexpr qal3::output::Messages messages{writer, true, "dump_env_index_dict() failed to write \n",
                                                   "dump_env_index_dict() failed to write file: '%s'\n"};
};

template <>
struct EntryLayout<qal3_env_index_dictionary_entry_2010> {
  static constexpr const char* writer = "dump_env_index_dict_2010()";
  static constexpr qal3::output::Messages messages{writer, true, "dump_env_index_dict_2010()  failed to write\n",
                                                   "dump_env_index_dict_2010() failed to write file: '%s'\n"};
};

// Property name of an entry as stored, never read past its array.
template <class Entry>
std::string prop_of(const Entry& e) {
  return std::string(e.data.env_prop, strnlen(e.data.env_prop, sizeof e.data.env_prop));
}

// An entry's lines go out in one piece, so that entries printed by several
// threads at once stay whole. The deltas are shown as a stream shows a
// float (six significant digits, no trailing zeros).
template <class Entry>
void list_on_console(const Entry& e, int n) {
  msg::print(msg::out, msg::listing, msg::flush,
             "-------------- %d -----------------\n Index : %d\n Channel: %s DABS %g DREL %g\n", n, e.index,
             qal3::text::one_line(prop_of(e)).c_str(), static_cast<double>(e.data.env_ch_abs_delta),
             static_cast<double>(e.data.env_ch_rel_delta));
}

template <class Entry>
void text_line(qal3::output::File& file, const Entry& e) {
  std::string prop = qal3::text::one_line(prop_of(e));
  if (prop.empty()) prop = qal3::kUndefinedName;
  file.printf("%d\t%s\t%s\t%s\n", e.index, prop.c_str(), float_text(e.data.env_ch_abs_delta).c_str(),
              float_text(e.data.env_ch_rel_delta).c_str());
}

template <class Entry>
void channel_element(std::string& body, const Entry& e) {
  using qal3::output::text_element;
  START_TAGN(body, "CHANNEL");
  text_element(body, "INDEX", std::to_string(e.index).c_str());
  text_element(body, "PROP", prop_of(e).c_str());
  text_element(body, "DABS", float_text(e.data.env_ch_abs_delta).c_str());
  text_element(body, "DREL", float_text(e.data.env_ch_rel_delta).c_str());
  END_TAGN(body, "CHANNEL");
}

// The whole XML document: declaration, body, and an empty last line.
std::string finish_document(std::string& body) {
  END_TAGN(body, kRoot);
  std::string doc;
  set_xml_header(doc);
  doc += body;
  doc += "\n";
  return doc;
}

// The entries of `list` to `out`: false when a delivery failed.
template <class Entry>
bool write_entries(const std::vector<Entry*>& list, qal3::output::Destination& out, int mode) {
  const bool xml = !out.console() && (mode == 2 || mode == 3);
  std::string body;
  START_TAGN(body, kRoot);
  add_iso_date(body);
  int n = 0;
  for (const Entry* e : list) {
    ++n;
    if (!e) continue;
    if (out.console())
      list_on_console(*e, n);
    else if (mode == 1)
      text_line(out.file(), *e);
    else if (xml)
      channel_element(body, *e);
  }

  if (!xml) return true;
  const std::string doc = finish_document(body);
  if (mode == 2) return out.deliver(doc, qal3::output::Text::leave);
  out.to_string(doc, qal3::output::Text::assign);
  return true;
}

template <class Entry>
int write_dictionary(std::vector<Entry*>* list, const char* file_name, int mode, int fd, std::string* xml_str) {
  using Layout = EntryLayout<Entry>;
  if (!list) {
    msg::print(msg::out, msg::error, msg::flush, "%s invalid argument: '\n", Layout::writer);
    return 2;
  }
  qal3::output::Destination out(file_name, fd, xml_str, Layout::messages);
  return out.write([&] { return write_entries(*list, out, mode); });
}

template <class Entry>
int convert_dictionary(char* xml, char* file_name, int mode, int fd) {
  return qal3::output::rewrite<Entry>(
      [&](auto* list) { return qal3::records::Description<Entry>::read_text(xml, std::strlen(xml), list, {}); },
      "Failed to parse ENV INDEX DICT list\n",
      [&](auto* list) { return write_dictionary(list, file_name, mode, fd, nullptr); });
}

}  // namespace

int dump_env_index_dict(std::vector<qal3_env_index_dictionary_entry*>* list, char* file_name, int mode, int fd,
                        std::string* xml_str) {
  return qal3::guarded(2, [&] { return write_dictionary(list, file_name, mode, fd, xml_str); });
}

int dump_env_index_dict_2010(std::vector<qal3_env_index_dictionary_entry_2010*>* list, char* file_name, int mode,
                             int fd, std::string* xml_str) {
  return qal3::guarded(2, [&] { return write_dictionary(list, file_name, mode, fd, xml_str); });
}

int dump_env_index_dict(char* xml, char* file_name, int mode, int fd) {
  return qal3::guarded(2,
                       [&] { return convert_dictionary<qal3_env_index_dictionary_entry>(xml, file_name, mode, fd); });
}

int dump_env_index_dict_2010(char* xml, char* file_name, int mode, int fd) {
  return qal3::guarded(
      2, [&] { return convert_dictionary<qal3_env_index_dictionary_entry_2010>(xml, file_name, mode, fd); });
}
