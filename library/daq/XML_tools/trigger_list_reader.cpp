// Trigger records and the trigger list readers: release, copy and
// comparison of records, and the reading of trigger list documents.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>

#include "boundary.h"
#include "messages.h"
#include "number_text.h"
#include "parse_chan_descr.h"  // qal3_get_thread_clock
#include "pull_reader.h"
#include "record_fields.h"
#include "trigger_facts.h"
#include "trigger_parameters.h"
#include "user_case_trigger.h"

namespace msg = qal3::messages;

namespace {

using qal3::reader::copy_text;
using qal3::reader::Document;
using qal3::reader::Step;

constexpr int kParams = qal3::trigger::kParameters;
using namespace qal3::trigger::names;

// ---------------------------------------------------------------------------
// Small helpers.

template <std::size_t N>
bool same_text(const char (&a)[N], const char (&b)[N]) {
  return std::strncmp(a, b, N) == 0;
}

// "%d": an optionally signed decimal number after leading white space,
// clamped to the int range. A text without digits leaves `field`.
void scan_int(const char* text, int& field) {
  char* end = nullptr;
  const long v = qal3::number::to_long(text, &end);
  if (end != text) field = qal3::number::clamp_to_int(v);
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
// included). A text that does not convert leaves `field`. `dot_radix`:
// qal3::number::dot_is_radix().
void scan_float(const char* text, float& field, bool dot_radix) {
  char* end = nullptr;
  const float v = qal3::number::to_float(text, &end, dot_radix);
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

// ---------------------------------------------------------------------------
// Reading.

struct RecordDeleter {
  void operator()(qal3_user_case_trigger* p) const { QAL3_FREE_USER(p); }
};
using Record = std::unique_ptr<qal3_user_case_trigger, RecordDeleter>;

// The element names of a trigger list that the reader acts on.
enum class TriggerElement {
  trigger,
  chan,
  description,
  group,
  pre_mode,
  post_mode,
  function,
  operation,
  low_limit,
  upper_limit,
  bit_mask,
  other
};

// Which of them a tag names.
const qal3::reader::ElementNames<TriggerElement>::Entry kTriggerNames[] = {
    {kRecordTag, TriggerElement::trigger},           {kChan.tag, TriggerElement::chan},
    {kDescription.tag, TriggerElement::description}, {kGroup.tag, TriggerElement::group},
    {kPreMode.tag, TriggerElement::pre_mode},        {kPostMode.tag, TriggerElement::post_mode},
    {kFunction.tag, TriggerElement::function},       {kOperation.tag, TriggerElement::operation},
    {kLowLimit.tag, TriggerElement::low_limit},      {kUpperLimit.tag, TriggerElement::upper_limit},
    {kBitMask.tag, TriggerElement::bit_mask},
};
const qal3::reader::ElementNames<TriggerElement> trigger_element(kTriggerNames, TriggerElement::other);

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
        if (const char* v = s.attr(kChan.value)) copy_text(t.channel, v, "attribute name of Chan");
        if (const char* v = s.attr(kSubchannel)) scan_int(v, t.subchannel);
        break;
      case TriggerElement::description:
        if (const char* v = s.attr(kDescription.value)) copy_text(t.description, v, "attribute text of Description");
        break;
      case TriggerElement::group:
        if (const char* v = s.attr(kGroup.value)) copy_text(t.group, v, "attribute name of Group");
        break;
      case TriggerElement::pre_mode:
        if (const char* v = s.attr(kPreMode.value)) scan_pre_mode(v, t.pre_mode);
        break;
      case TriggerElement::post_mode:
        if (const char* v = s.attr(kPostMode.value)) scan_int(v, t.post_mode);
        break;
      case TriggerElement::function:
        read_function(s, t);
        break;
      case TriggerElement::operation:
        if (const char* v = s.attr(kOperation.value)) {
          const int op = qal3_get_operation_index(const_cast<char*>(v));
          if (op >= 0)
            t.operation = op;
          else
            note_default(kOperation.tag, v, qal3_get_operation_string(t.operation));
        }
        break;
      case TriggerElement::low_limit:
        if (const char* v = s.attr(kLowLimit.value)) scan_float(v, t.low, dot_radix_);
        break;
      case TriggerElement::upper_limit:
        if (const char* v = s.attr(kUpperLimit.value)) scan_float(v, t.upper, dot_radix_);
        break;
      case TriggerElement::bit_mask:
        if (const char* v = s.attr(kBitMask.value)) scan_mask(v, t.bitmask);
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
    qal3_get_thread_clock(&r->time);
    current_ = std::move(r);
    return true;
  }

  // A name no registry slot has: the record keeps `kept`.
  __attribute__((noinline, cold)) static void note_default(const char* element, const char* name, const char* kept) {
    msg::note("%s '%.32s' names no registry slot: read as %s", element, name, kept ? kept : "");
  }

  void read_function(const Step& s, qal3_user_case_trigger& t) const {
    for (int i = 0; i < kParams; ++i) {
      for (const char* alias : qal3::trigger::kParameterAliases[i]) {
        if (alias[0] == '\0') break;
        if (const char* v = s.attr(alias)) {
          scan_float(v, t.fparam[i], dot_radix_);
          break;
        }
      }
    }
    if (const char* v = s.attr(kFunction.value)) {
      const int f = qal3_get_function_index(const_cast<char*>(v));
      if (f >= 0)
        t.function = f;
      else
        note_default(kFunction.tag, v, qal3_get_function_string(t.function));
    }
  }

  std::vector<qal3_user_case_trigger*>& list_;
  Record current_;
  bool allocation_failed_ = false;
  const bool dot_radix_ = qal3::number::dot_is_radix();
};

bool read_trigger_list(const Document& doc, std::vector<qal3_user_case_trigger*>* list) {
  if (!doc.source || !list) return true;
  return qal3::guarded(true, [&] {
    TriggerListBuilder builder(*list);
    const auto root = qal3::reader::root_is(qal3::records::Description<qal3_user_case_trigger>::root);
    auto element = [&builder](const Step& s) { return builder(s); };
    const qal3::reader::Outcome out = qal3::reader::read(doc, root, element);
    builder.finish();
    return out.sum() != 0 || builder.allocation_failed();
  });
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
  if (inp->subchannel != outp->subchannel || inp->function != outp->function || inp->operation != outp->operation ||
      !(inp->low == outp->low) || !(inp->upper == outp->upper) || inp->bitmask != outp->bitmask)
    return false;
  for (int i = 0; i < kParams; ++i)
    if (!(inp->fparam[i] == outp->fparam[i])) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Documents.

bool parse_trigger_list_read(char* xml, std::vector<qal3_user_case_trigger*>* list) {
  return read_trigger_list(Document::in_memory(xml), list);
}

bool parse_trigger_list_readf(char* file, std::vector<qal3_user_case_trigger*>* list) {
  return read_trigger_list(Document::in_file(file), list);
}
