// The trigger list writers: screen, text and XML forms, and the empty
// document.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "boundary.h"
#include "float_text.h"
#include "messages.h"
#include "parse_chan_descr.h"  // set_xml_header, add_iso_date
#include "record_fields.h"
#include "text_field.h"
#include "trigger_parameters.h"
#include "user_case_trigger.h"
#include "xml_output.h"

namespace msg = qal3::messages;

namespace {

using qal3::number::float_text;
using namespace qal3::trigger::names;

constexpr const char* kRoot = qal3::records::Description<qal3_user_case_trigger>::root;
constexpr int kParams = qal3::trigger::kParameters;
static_assert(sizeof(qal3_user_case_trigger::fparam) == kParams * sizeof(float), "a parameter per attribute");

// printf-style formatting into a new string.
__attribute__((format(printf, 1, 2))) std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = qal3::messages::vformat(fmt, args);
  va_end(args);
  return out;
}

const char* or_empty(const char* s) { return s ? s : ""; }

const char* function_name(int function) { return or_empty(qal3_get_function_string(function)); }
const char* operation_name(int operation) { return or_empty(qal3_get_operation_string(operation)); }

// Appends an empty element with the given attribute names and values.
void add_element(std::string& body, const char* tag, std::vector<const char*> names,
                 const std::vector<std::string>& values) {
  std::vector<char*> at;
  std::vector<char*> v;
  at.reserve(names.size());
  v.reserve(values.size());
  for (const char* n : names) at.push_back(const_cast<char*>(n));
  for (const std::string& s : values) v.push_back(const_cast<char*>(s.c_str()));
  START_TAG_ATTRN(body, tag, &at, &v);
}
// Appends element `e` with `value` in its value's attribute.
void add_element(std::string& body, const ListElement& e, const std::string& value) {
  add_element(body, e.tag, {e.value}, {value});
}

// The function and its parameters, each under its first attribute name.
void add_function_element(std::string& body, const qal3_user_case_trigger& t) {
  std::vector<const char*> names{kFunction.value};
  std::vector<std::string> values{xml_escaped(function_name(t.function))};
  for (int i = 0; i < kParams; ++i) {
    names.push_back(qal3::trigger::kParameterAliases[i][0]);
    values.push_back(float_text(t.fparam[i]));
  }
  add_element(body, kFunction.tag, names, values);
}

// The XML block of one record.
void add_xml_block(std::string& body, const qal3_user_case_trigger& t) {
  START_TAGN(body, kRecordTag);
  add_element(body, kChan.tag, {kChan.value, kSubchannel}, {xml_escaped(t.channel), format("%d", t.subchannel)});
  add_function_element(body, t);
  add_element(body, kOperation, xml_escaped(operation_name(t.operation)));
  add_element(body, kLowLimit, float_text(t.low));
  add_element(body, kUpperLimit, float_text(t.upper));
  add_element(body, kBitMask, format("0x%X", t.bitmask));
  add_element(body, kCreation, format("%u", static_cast<unsigned>(t.time)));
  add_element(body, kDescription, xml_escaped(t.description));
  add_element(body, kPreMode, format("%u", static_cast<unsigned>(t.pre_mode)));
  add_element(body, kPostMode, format("%d", t.post_mode));
  add_element(body, kGroup, xml_escaped(t.group));
  END_TAGN(body, kRecordTag);
}

std::string parameters_line(const qal3_user_case_trigger& t) {
  std::string line;
  for (int k = 0; k < kParams; ++k) line += format("[%d]:", k) + float_text(t.fparam[k]) + "\t";
  return line + "\n";
}

// The text block of one record (mode 1).
std::string text_block(const qal3_user_case_trigger& t) {
  std::string out =
      format("%s\t%d\t%s\n", qal3::text::one_line(t.channel).c_str(), t.subchannel, function_name(t.function));
  out += parameters_line(t);
  out += format("%s\n", operation_name(t.operation));
  out += float_text(t.low) + "\t" + float_text(t.upper) + format("\t0x%X\n", t.bitmask);
  return out;
}

// The screen block of record number n. Low and upper are shown as the
// standard stream shows a float (six significant digits, no trailing zeros).
void print_screen_block(const qal3_user_case_trigger& t, int n) {
  msg::list("-------------- %d -----------------\n", n);
  msg::list(" Channel: %s\tsubchannel: %d\n", qal3::text::one_line(t.channel).c_str(), t.subchannel);
  msg::list(" Function: %s\n", function_name(t.function));
  msg::list(" Parameters: \n");
  msg::deliver(msg::out, msg::listing, msg::keep, parameters_line(t));
  msg::list(" Operation: %s\n", operation_name(t.operation));
  msg::list(" Limits: \n");
  msg::list(" Low: %g\tUpper: %g\n", static_cast<double>(t.low), static_cast<double>(t.upper));
  msg::list("BitMask: 0x%X\n", t.bitmask);
}

// A record copy with its text fields terminated, so that a caller's record
// whose arrays are full cannot make the writer read past them.
qal3_user_case_trigger terminated(const qal3_user_case_trigger& t) {
  qal3_user_case_trigger c = t;
  c.channel[sizeof c.channel - 1] = '\0';
  c.description[sizeof c.description - 1] = '\0';
  c.group[sizeof c.group - 1] = '\0';
  return c;
}

const qal3::output::Messages kMessages{"dump_user_trigger_list()", true, "dump_user_trigger_list()  write failed\n",
                                       nullptr};

// The records of `list` to `out`: false when a delivery failed.
bool write_list(const std::vector<qal3_user_case_trigger*>& list, qal3::output::Destination& out, int mode) {
  std::string body;
  START_TAGN(body, kRoot);
  add_iso_date(body);

  const bool xml = mode == USER_TRIG_DUMP_XML_FILE || mode == USER_TRIG_DUMP_XML_STRING;
  std::string text;  // mode 1 without a file: for the descriptor and the string
  int n = 0;
  for (const qal3_user_case_trigger* p : list) {
    ++n;
    if (!p) continue;
    const qal3_user_case_trigger t = terminated(*p);
    if (out.console()) {
      print_screen_block(t, n);
    } else if (mode == USER_TRIG_DUMP_TXT_FILE) {
      if (out.named())
        out.file().put(text_block(t));
      else
        text += text_block(t);
    } else if (xml) {
      add_xml_block(body, t);
    }
  }
  if (out.console()) msg::flush_default(msg::out);

  if (!out.console() && mode == USER_TRIG_DUMP_TXT_FILE && !out.named())
    return out.deliver(text, qal3::output::Text::assign);
  if (!xml) return true;
  END_TAGN(body, kRoot);
  std::string doc;
  set_xml_header(doc);
  doc += body;
  if (mode == USER_TRIG_DUMP_XML_FILE) return out.deliver(doc, qal3::output::Text::leave);
  out.to_string(doc, qal3::output::Text::assign);
  return true;
}

}  // namespace

int get_user_trigger_empty_header(std::string* xml_str) {
  if (!xml_str) {
    msg::say("get_user_trigger_empty_header() invalid argument: '\n");
    return 2;
  }
  return qal3::guarded(2, [&] {
    std::string body;
    START_TAGN(body, kRoot);
    add_iso_date(body);
    END_TAGN(body, kRoot);
    set_xml_header(*xml_str);
    *xml_str += body;
    return 0;
  });
}

int dump_user_trigger_list(std::vector<qal3_user_case_trigger*>* list, char* file_name, int mode, int fd,
                           std::string* xml_str) {
  if (!list) {
    msg::say("dump_user_trigger_list() invalid argument: '\n");
    return 2;
  }
  qal3::output::Destination out(file_name, fd, xml_str, kMessages);
  return out.write([&] { return write_list(*list, out, mode); });
}

int dump_user_triggers(char* xml, char* file_name, int mode, int fd) {
  return qal3::output::rewrite<qal3_user_case_trigger>(
      [&](auto* list) { return parse_trigger_list_read(xml, list); }, "Failed to parse USER TRIGGER list\n",
      [&](auto* list) { return dump_user_trigger_list(list, file_name, mode, fd, nullptr); });
}
