// Trigger records and trigger list XML: release, copy and comparison of
// records, the trigger list readers and the writer with its screen, text
// and XML forms.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>

#include "attr_tags_functions.h"
#include "boundary.h"
#include "float_text.h"
#include "number_text.h"
#include "parse_chan_descr.h"
#include "messages.h"
#include "text_field.h"
#include "pull_reader.h"
#include "trigger_facts.h"
#include "trigger_parameters.h"
#include "user_case_trigger.h"
#include "xml_output.h"

namespace msg = qal3::messages;

namespace {

using qal3::reader::Document;
using qal3::reader::Step;
using qal3::number::float_text;

constexpr const char* kRoot = "QAL3USERTRIGGERLIST";
constexpr const char* kTrigger = "USERTRIGGER";
constexpr int kParams = qal3::trigger::kParameters;
constexpr std::size_t kText = 256;  // size of the record's text fields

// ---------------------------------------------------------------------------
// Small helpers.

// Copies at most 255 characters of `src` into a record text field; longer
// values are cut. Reads no further than that, so `src` may be a full field.
void copy_text(char (&dst)[kText], const char* src) {
  const std::size_t n = qal3::reader::fitting_length(src, kText);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

bool same_text(const char (&a)[kText], const char (&b)[kText]) {
  return std::strncmp(a, b, kText) == 0;
}

// "%d": an optionally signed decimal number after leading white space,
// clamped to the int range. A text without digits leaves `field`.
void scan_int(const char* text, int& field) {
  char* end = nullptr;
  const long v = qal3::number::to_long(text, &end);
  if (end == text) return;
  using limits = std::numeric_limits<int>;
  if (v > limits::max()) field = limits::max();
  else if (v < limits::min()) field = limits::min();
  else field = static_cast<int>(v);
}

// PreMode: as scan_int, except that a number above the int range but within
// the unsigned range is taken as the unsigned form ("%u", the writer's form)
// of a negative number, so that a written pre mode reads back unchanged.
void scan_pre_mode(const char* text, int& field) {
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text) return;
  if (v > std::numeric_limits<int>::max() && v <= std::numeric_limits<unsigned>::max())
    field = static_cast<int>(static_cast<unsigned>(v));
  else
    scan_int(text, field);
}

// "%f": a floating-point number after leading white space (nan and inf
// included). A text that does not convert leaves `field`.
void scan_float(const char* text, float& field) {
  char* end = nullptr;
  const float v = qal3::number::to_float(text, &end);
  if (end != text) field = v;
}

// "0x%X": the text must start with "0x", followed by a hexadecimal number.
void scan_mask(const char* text, u_int& field) {
  if (text[0] != '0' || text[1] != 'x') return;
  const char* digits = text + 2;
  char* end = nullptr;
  const unsigned long v = qal3::number::to_ulong(digits, &end, 16);
  if (end != digits) field = static_cast<u_int>(v);
}

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

// ---------------------------------------------------------------------------
// Reading.

struct RecordDeleter {
  void operator()(qal3_user_case_trigger* p) const { QAL3_FREE_USER(p); }
};
using Record = std::unique_ptr<qal3_user_case_trigger, RecordDeleter>;

// The element names of a trigger list that the reader acts on.
enum class TriggerElement {
  trigger, chan, description, group, pre_mode, post_mode, function, operation, low_limit,
  upper_limit, bit_mask, other
};

TriggerElement trigger_element(const char* t) {
  using E = TriggerElement;
  static const qal3::reader::ElementNames<E>::Entry kNames[] = {
      {kTrigger, E::trigger},          {"Chan", E::chan},
      {"Description", E::description}, {"Group", E::group},
      {"PreMode", E::pre_mode},        {"PostMode", E::post_mode},
      {"Function", E::function},       {"Operation", E::operation},
      {"LowLimit", E::low_limit},      {"UpperLimit", E::upper_limit},
      {"BitMask", E::bit_mask},
  };
  static const qal3::reader::ElementNames<E> kIndex(kNames, E::other);
  return kIndex(t);
}

// The element handling of one trigger list document.
class TriggerListBuilder {
 public:
  explicit TriggerListBuilder(std::vector<qal3_user_case_trigger*>& list) : list_(list) {}

  // Appends the record in progress, if any.
  void finish() {
    if (!current_) return;
    list_.push_back(current_.get());
    current_.release();
  }

  bool allocation_failed() const { return allocation_failed_; }

  bool operator()(const Step& s) {
    const TriggerElement element = trigger_element(s.tag);
    if (element == TriggerElement::trigger) return begin_record();
    if (!current_) return true;
    qal3_user_case_trigger& t = *current_;
    switch (element) {
      case TriggerElement::chan:
        if (const char* v = s.attr("name")) copy_text(t.channel, v);
        if (const char* v = s.attr("subchan")) scan_int(v, t.subchannel);
        break;
      case TriggerElement::description:
        if (const char* v = s.attr("text")) copy_text(t.description, v);
        break;
      case TriggerElement::group:
        if (const char* v = s.attr("name")) copy_text(t.group, v);
        break;
      case TriggerElement::pre_mode:
        if (const char* v = s.attr("events")) scan_pre_mode(v, t.pre_mode);
        break;
      case TriggerElement::post_mode:
        if (const char* v = s.attr("events")) scan_int(v, t.post_mode);
        break;
      case TriggerElement::function:
        read_function(s, t);
        break;
      case TriggerElement::operation:
        if (const char* v = s.attr("name")) {
          const int op = qal3_get_operation_index(const_cast<char*>(v));
          if (op >= 0) t.operation = op;
        }
        break;
      case TriggerElement::low_limit:
        if (const char* v = s.attr("value")) scan_float(v, t.low);
        break;
      case TriggerElement::upper_limit:
        if (const char* v = s.attr("value")) scan_float(v, t.upper);
        break;
      case TriggerElement::bit_mask:
        if (const char* v = s.attr("mask")) scan_mask(v, t.bitmask);
        break;
      default:
        break;
    }
    return true;
  }

 private:
  bool begin_record() {
    finish();
    Record r(static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof(qal3_user_case_trigger))));
    if (!r) {
      msg::print(msg::out, msg::error, msg::flush, "Failed to allocate memory for qal3_user_case_trigger\n");
      allocation_failed_ = true;
      return false;
    }
    r->subchannel = 0;
    r->function = qal3::trigger::kDefaultFunction;
    r->operation = qal3::trigger::kDefaultOperation;
    r->time = std::time(nullptr);
    current_ = std::move(r);
    return true;
  }

  static void read_function(const Step& s, qal3_user_case_trigger& t) {
    for (int i = 0; i < kParams; ++i) {
      for (const char* alias : qal3::trigger::kParameterAliases[i]) {
        if (alias[0] == '\0') break;
        if (const char* v = s.attr(alias)) {
          scan_float(v, t.fparam[i]);
          break;
        }
      }
    }
    if (const char* v = s.attr("name")) {
      const int f = qal3_get_function_index(const_cast<char*>(v));
      if (f >= 0) t.function = f;
    }
  }

  std::vector<qal3_user_case_trigger*>& list_;
  Record current_;
  bool allocation_failed_ = false;
};

bool read_trigger_list(const Document& doc, std::vector<qal3_user_case_trigger*>* list) {
  if (!doc.source || !list) return true;
  return qal3::guarded(true, [&] {
    TriggerListBuilder builder(*list);
    auto root = [](const char* tag) {
      if (tag && std::strcmp(tag, kRoot) == 0) return true;
      qal3::reader::print_wrong_root(tag, kRoot);
      return false;
    };
    auto element = [&builder](const Step& s) { return builder(s); };
    const qal3::reader::Outcome out = qal3::reader::read(doc, root, element);
    builder.finish();
    return out.sum() != 0 || builder.allocation_failed();
  });
}

// ---------------------------------------------------------------------------
// Writing.

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

void add_function_element(std::string& body, const qal3_user_case_trigger& t) {
  static const char* const names[kParams + 1] = {
      "name",    "param0",  "param1",  "param2",  "param3",  "param4",
      "param5",  "param6",  "param7",  "param8",  "param9",  "param10",
      "param11", "param12", "param13", "param14", "param15"};
  std::vector<std::string> values;
  values.reserve(kParams + 1);
  values.push_back(xml_escaped(function_name(t.function)));
  for (float p : t.fparam) values.push_back(float_text(p));
  add_element(body, "Function", std::vector<const char*>(names, names + kParams + 1), values);
}

// The XML block of one record.
void add_xml_block(std::string& body, const qal3_user_case_trigger& t) {
  START_TAGN(body, kTrigger);
  add_element(body, "Chan", {"name", "subchan"},
              {xml_escaped(t.channel), format("%d", t.subchannel)});
  add_function_element(body, t);
  add_element(body, "Operation", {"name"}, {xml_escaped(operation_name(t.operation))});
  add_element(body, "LowLimit", {"value"}, {float_text(t.low)});
  add_element(body, "UpperLimit", {"value"}, {float_text(t.upper)});
  add_element(body, "BitMask", {"mask"}, {format("0x%X", t.bitmask)});
  add_element(body, "Creation", {"time"}, {format("%u", static_cast<unsigned>(t.time))});
  add_element(body, "Description", {"text"}, {xml_escaped(t.description)});
  add_element(body, "PreMode", {"events"}, {format("%u", static_cast<unsigned>(t.pre_mode))});
  add_element(body, "PostMode", {"events"}, {format("%d", t.post_mode)});
  add_element(body, "Group", {"name"}, {xml_escaped(t.group)});
  END_TAGN(body, kTrigger);
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
  c.channel[kText - 1] = '\0';
  c.description[kText - 1] = '\0';
  c.group[kText - 1] = '\0';
  return c;
}

void say(const char* text) { msg::deliver(msg::out, msg::error, msg::flush, text, std::strlen(text)); }

const qal3::output::Messages kMessages{"dump_user_trigger_list()", true,
                                      "dump_user_trigger_list()  write failed\n", nullptr};

int write_list(const std::vector<qal3_user_case_trigger*>& list, qal3::output::Destination& out,
               int mode) {
  if (!out.open()) return 1;
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
      if (out.named()) out.file().put(text_block(t));
      else text += text_block(t);
    } else if (xml) {
      add_xml_block(body, t);
    }
  }
  if (out.console()) msg::flush_default(msg::out);

  if (!out.console() && mode == USER_TRIG_DUMP_TXT_FILE && !out.named()) {
    if (!out.to_descriptor(text)) return 2;
    if (out.text()) *out.text() = text;
  }

  if (xml) {
    END_TAGN(body, kRoot);
    std::string doc;
    set_xml_header(doc);
    doc += body;
    if (mode == USER_TRIG_DUMP_XML_FILE) {
      out.file().put(doc);
      if (!out.to_descriptor(doc)) return 2;
    } else if (out.text()) {
      *out.text() = doc;
    }
  }
  return out.close() ? 0 : 2;
}

}  // namespace

// ---------------------------------------------------------------------------
// Records.

void QAL3_FREE_USER(qal3_user_case_trigger* inp) {
  if (!inp) return;
  std::free(inp->fprevresult);
  std::free(inp->fresult);
  std::free(inp->iresult);
  std::free(inp);
}

bool QAL3_USER_COPY(qal3_user_case_trigger* inp, qal3_user_case_trigger* outp) {
  if (!inp || !outp) return true;
  if (inp == outp) return false;
  outp->function = inp->function;
  outp->operation = inp->operation;
  outp->low = inp->low;
  outp->upper = inp->upper;
  outp->bitmask = inp->bitmask;
  copy_text(outp->channel, inp->channel);
  copy_text(outp->description, inp->description);
  copy_text(outp->group, inp->group);
  outp->valid = inp->valid;
  outp->pre_mode = inp->pre_mode;
  outp->post_mode = inp->post_mode;
  outp->subchannel = inp->subchannel;
  std::memcpy(outp->fparam, inp->fparam, sizeof outp->fparam);
  outp->time = inp->time;

  if (inp->fresult && !outp->fresult) {
    outp->fresult = static_cast<float*>(std::malloc(sizeof(float)));
    if (!outp->fresult) return true;
    *outp->fresult = *inp->fresult;
  } else if (!inp->fresult && outp->fresult) {
    std::free(outp->fresult);
    outp->fresult = nullptr;
  }
  return false;
}

bool QAL3_USER_THESAME(qal3_user_case_trigger* inp, qal3_user_case_trigger* outp) {
  if (!inp || !outp) return false;
  if (!same_text(inp->channel, outp->channel) || !same_text(inp->description, outp->description) ||
      !same_text(inp->group, outp->group))
    return false;
  if (inp->subchannel != outp->subchannel || inp->function != outp->function ||
      inp->operation != outp->operation || !(inp->low == outp->low) ||
      !(inp->upper == outp->upper) || inp->bitmask != outp->bitmask)
    return false;
  for (int i = 0; i < kParams; ++i)
    if (!(inp->fparam[i] == outp->fparam[i])) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Documents.

int get_user_trigger_empty_header(std::string* xml_str) {
  if (!xml_str) {
    say("get_user_trigger_empty_header() invalid argument: '\n");
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

bool parse_trigger_list_read(char* xml, std::vector<qal3_user_case_trigger*>* list) {
  return read_trigger_list(Document::in_memory(xml), list);
}

bool parse_trigger_list_readf(char* file, std::vector<qal3_user_case_trigger*>* list) {
  return read_trigger_list(Document::in_file(file), list);
}

int dump_user_trigger_list(std::vector<qal3_user_case_trigger*>* list, char* file_name, int mode,
                           int fd, std::string* xml_str) {
  if (!list) {
    say("dump_user_trigger_list() invalid argument: '\n");
    return 2;
  }
  qal3::output::Destination out(file_name, fd, xml_str, kMessages);
  return qal3::guarded(2, [&] { return write_list(*list, out, mode); });
}

int dump_user_triggers(char* xml, char* file_name, int mode, int fd) {
  std::vector<qal3_user_case_trigger*> list;
  if (parse_trigger_list_read(xml, &list)) {
    for (qal3_user_case_trigger* t : list) QAL3_FREE_USER(t);
    say("Failed to parse USER TRIGGER list\n");
    return 3;
  }
  const int rc = dump_user_trigger_list(&list, file_name, mode, fd, nullptr);
  for (qal3_user_case_trigger* t : list) QAL3_FREE_USER(t);
  return rc;
}
