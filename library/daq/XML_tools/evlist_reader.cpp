// Event list reader, printer and clean.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "boundary.h"
#include "event_util.h"
#include "messages.h"
#include "number_text.h"
#include "parse_ev_list.h"
#include "pull_reader.h"
#include "record_fields.h"
#include "text_field.h"

namespace msg = qal3::messages;

namespace {

using qal3::reader::Document;
using qal3::reader::Step;

// Reads an unsigned number as sscanf's " 0x%X " does when the text holds a
// lower-case x, else as its "%u" does (both convert with strtoul). A text
// that does not scan leaves `field`.
void scan_number(const char* text, u_int& field) {
  const char* digits = text;
  int base = 10;
  if (std::strchr(text, 'x')) {
    while (std::isspace(static_cast<unsigned char>(*digits))) ++digits;
    if (digits[0] != '0' || digits[1] != 'x') return;
    digits += 2;
    base = 16;
  }
  char* end = nullptr;
  const unsigned long v = qal3::number::to_ulong(digits, &end, base);
  if (end != digits) field = static_cast<u_int>(v);
}

// The element names of an event list that the reader acts on.
enum class EvListElement { event, type, sblock, chan, chlist, tmask, mintimesec, mintimeusec, priority, other };

// Which of them a tag names.
const qal3::reader::ElementNames<EvListElement>::Entry kEvListNames[] = {
    {"EVENT", EvListElement::event},
    {"TYPE", EvListElement::type},
    {"TMASK", EvListElement::tmask},
    {"SBLOCK", EvListElement::sblock},
    {"CHAN", EvListElement::chan},
    {"CHLIST", EvListElement::chlist},
    {"MINTIMESEC", EvListElement::mintimesec},
    {"MINTIMEUSEC", EvListElement::mintimeusec},
    {"PRIORITY", EvListElement::priority},
};
const qal3::reader::ElementNames<EvListElement> ev_list_element(kEvListNames, EvListElement::other);

// Room made in a server block's channel list at its first channel: blocks
// usually list a few channels, which then take one allocation.
constexpr std::size_t kChannelsPerBlock = 4;

// The element loop of one BMR document.
class EventListBuilder {
 public:
  explicit EventListBuilder(std::vector<qal3_ev_entry*>& list) : list_(list) {}

  bool operator()(const Step& s) {
    const EvListElement element = ev_list_element(s.tag);
    if (element == EvListElement::event) {
      event_open_ = true;
      type_seen_ = block_open_ = chlist_open_ = false;
    } else if (element == EvListElement::type) {
      on_type(s.value);
    } else if (event_open_ && type_seen_) {
      if (s.value) on_field(element, s.value);
      if (block_open_ && element == EvListElement::chlist) chlist_open_ = true;
    }
    return true;
  }

 private:
  void on_type(const char* value) {
    if (!event_open_) return;
    if (!type_seen_) {
      type_seen_ = true;
      return;
    }
    if (!value) return;
    const long t = qal3::number::to_long(value, nullptr);
    if (t < 0 || t > QAL3_EV_EVMAX) {
      msg::note("TYPE %ld is out of range 0 to %d: no entry is made, what follows up to the next TYPE is dropped", t,
                static_cast<int>(QAL3_EV_EVMAX));
      type_seen_ = false;
      return;
    }
    auto blocks = std::make_unique<std::vector<qal3_ev_sb_list*>>();
    auto entry = std::make_unique<qal3_ev_entry>();
    entry->evtype = static_cast<QAL3_EVTYPE>(t);
    entry->sb_list = blocks.get();
    entry->min_ev_time = {0, 0};
    entry->tmask = 0;
    entry->priority = 0;
    list_.push_back(entry.get());
    blocks.release();
    latest_entry_ = entry.release();
    latest_block_ = nullptr;
  }

  void on_field(EvListElement element, const char* value) {
    if (!latest_entry_) return;
    switch (element) {
      case EvListElement::sblock: {
        auto channels = std::make_unique<std::vector<char*>>();
        auto block = std::make_unique<qal3_ev_sb_list>();
        // As snprintf(sb_list, 255, "%s", value): at most 254 bytes.
        const std::size_t n = strnlen(value, 254);
        std::memcpy(block->sb_list, value, n);
        block->sb_list[n] = '\0';
        if (value[n] != '\0') qal3::reader::note_cut("SBLOCK", 255, value, n);
        block->ch_list = channels.get();
        latest_entry_->sb_list->push_back(block.get());
        channels.release();
        latest_block_ = block.release();
        block_open_ = true;
        chlist_open_ = false;
        break;
      }
      case EvListElement::chan: {
        if (!chlist_open_ || !latest_block_) {
          msg::note("CHAN '%.32s' outside a channel list of a server block: dropped", value);
          return;
        }
        const std::size_t n = std::strlen(value);
        auto copy = std::make_unique<char[]>(n + 1);
        std::memcpy(copy.get(), value, n + 1);
        std::vector<char*>& channels = *latest_block_->ch_list;
        if (channels.empty()) channels.reserve(kChannelsPerBlock);
        channels.push_back(copy.get());
        copy.release();
        break;
      }
      case EvListElement::tmask:
        scan_number(value, latest_entry_->tmask);
        break;
      case EvListElement::mintimesec:
        scan_number(value, latest_entry_->min_ev_time.timeup);
        break;
      case EvListElement::mintimeusec:
        scan_number(value, latest_entry_->min_ev_time.timelow);
        break;
      case EvListElement::priority:
        scan_number(value, latest_entry_->priority);
        break;
      default:
        break;
    }
  }

  std::vector<qal3_ev_entry*>& list_;
  bool event_open_ = false;
  bool type_seen_ = false;
  bool block_open_ = false;
  bool chlist_open_ = false;
  qal3_ev_entry* latest_entry_ = nullptr;
  qal3_ev_sb_list* latest_block_ = nullptr;
};

int read_event_list(const Document& doc, std::vector<qal3_ev_entry*>* list) {
  if (!doc.source || !list) return 1;
  return qal3::guarded(1, [&] {
    EventListBuilder builder(*list);
    const auto root =
        qal3::reader::root_is(qal3::records::Description<qal3_ev_entry>::root, "WRONG root tag: %s must be '%s'\n");
    return qal3::reader::read(doc, root, builder).sum();
  });
}

}  // namespace

int qal3_parse_ev_list_read(char* xml, std::vector<qal3_ev_entry*>* list) {
  return read_event_list(Document::in_memory(xml), list);
}

int qal3_parse_ev_list_readf(char* file, std::vector<qal3_ev_entry*>* list) {
  return read_event_list(Document::in_file(file), list);
}

void qal3_print_ev_list(std::vector<qal3_ev_entry*>* list) {
  if (!list) return;
  int i = 0;
  for (const qal3_ev_entry* e : *list) {
    msg::list("Entry[%d]\n", i++);
    msg::list("EVENT TYPE:\t%s\n", event_name_itoa(e->evtype));
    msg::list("Trigger mask:\t0x%x (%u)\n", e->tmask, e->tmask);
    msg::list("Min event time:\t%d sec %d usec\n", static_cast<int>(e->min_ev_time.timeup),
              static_cast<int>(e->min_ev_time.timelow));
    msg::list("Priority:\t0x%x (%u)\n", e->priority, e->priority);
    if (!e->sb_list) {
      msg::put_line(msg::out, msg::listing, msg::keep, "No server block list -> Full event");
      continue;
    }
    msg::list("Server Blocks: %d\n", static_cast<int>(e->sb_list->size()));
    int j = 0;
    for (const qal3_ev_sb_list* sb : *e->sb_list) {
      msg::list("Server block[%d]: '%s'\n", j++, qal3::text::one_line(sb->sb_list).c_str());
      if (sb->ch_list && !sb->ch_list->empty()) {
        msg::list("Channels: %d\n", static_cast<int>(sb->ch_list->size()));
        int k = 0;
        for (const char* ch : *sb->ch_list) msg::list("Channel[%d]:\t'%s'\n", k++, qal3::text::one_line(ch).c_str());
      } else {
        msg::put_line(msg::out, msg::listing, msg::keep, "No channel list -> ALL channels");
      }
    }
  }
}

void qal3_clean_ev_list(std::vector<qal3_ev_entry*>* list) {
  if (!list) return;
  for (qal3_ev_entry* e : *list) {
    if (e && e->sb_list) {
      for (qal3_ev_sb_list* sb : *e->sb_list) {
        if (!sb) continue;
        if (sb->ch_list) {
          for (char* ch : *sb->ch_list) delete[] ch;
          delete sb->ch_list;
        }
        delete sb;
      }
      delete e->sb_list;
    }
    delete e;
  }
  list->clear();
}
