// The GigE feature file writer.
#include <string>
#include <vector>

#include "messages.h"
#include "parse_chan_descr.h"  // set_xml_header
#include "qal3_gige_descr.h"
#include "record_fields.h"
#include "xml_output.h"

namespace msg = qal3::messages;

namespace {

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
  using qal3::output::text_element;
  if (!f.tooltip.empty()) text_element(out += "    ", MoreTags[MORE_TAGS_TOOLTIP], f.tooltip.c_str());
  if (!f.description.empty()) text_element(out += "    ", MoreTags[MORE_TAGS_DESCRIPTION], f.description.c_str());
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
  START_TAGN(out, qal3::records::Description<QAL3GigEFeature>::root);
  for (const QAL3GigEFeature* f : list)
    if (f) add_feature(out, *f);
  END_TAGN(out, qal3::records::Description<QAL3GigEFeature>::root);
  return out;
}

}  // namespace

int qal3_write_gige_descr(const std::vector<QAL3GigEFeature*>* list, const char* file_name, int fd,
                          std::string* xml_str) {
  bool valid = list != nullptr;
  if (list)
    for (const QAL3GigEFeature* f : *list) valid = valid && (!f || writable(*f));
  if (!valid) {
    msg::say("qal3_write_gige_descr() invalid argument\n");
    return 2;
  }
  qal3::output::Destination out(file_name, fd, xml_str, kGigEMessages);
  return out.write([&] { return out.deliver_or_list(gige_document(*list), qal3::output::Text::assign); });
}
