// The trigger replay (qal3_replay.h): a trigger list evaluated over events,
// each trigger on its own channel and subchannel. A run lays the data out
// in event-utility blocks (one per channel, holding its subchannels), keeps
// them while the data's layout stays the same, and per event copies into
// them only the samples the triggers read.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "boundary.h"
#include "event_util.h"
#include "messages.h"
#include "qal3_evutl_blocks.h"
#include "qal3_replay.h"
#include "trigger_builtins.h"
#include "trigger_facts.h"
#include "trigger_window.h"
#include "user_case_trigger.h"

namespace {

constexpr int kMaxSubchannel = QAL3_REPLAY_MAX_SUBCHANNEL;
constexpr std::size_t kMaxSamples = 536870911;  // INT32_MAX / 4: a block's byte count stays an int
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct FreeTrigger {
  void operator()(qal3_user_case_trigger* t) const { QAL3_FREE_USER(t); }
};
using TriggerPtr = std::unique_ptr<qal3_user_case_trigger, FreeTrigger>;

struct FreeBlock {
  void operator()(qal3_serv_block_subhead_2010* b) const { qal3_evutl_free_block(b); }
};
using Block = std::unique_ptr<qal3_serv_block_subhead_2010, FreeBlock>;

// What one evaluation gave: its outcome, and the value when there is one.
struct Outcome {
  int outcome;
  float value;
};

bool valid_slots(const qal3_user_case_trigger& t) {
  using qal3::trigger::kSlots;
  return static_cast<unsigned>(t.function) < static_cast<unsigned>(kSlots) &&
         static_cast<unsigned>(t.operation) < static_cast<unsigned>(kSlots);
}

// Evaluates `t` on `block`. The result buffer, when the trigger has one,
// is set to NaN first, so that nothing of an earlier event is taken for
// this one's value; a function that says it has none has none, whatever
// it wrote.
Outcome evaluate(qal3_serv_block_subhead_2010* block, qal3_user_case_trigger* t) {
  if (!valid_slots(*t)) return {QAL3_REPLAY_INVALID, kNaN};
  const pt2Fun fun = qal3::trigger::registered_function(t->function);
  const pt2Op op = qal3::trigger::registered_operation(t->operation);
  if (t->fresult) *t->fresult = kNaN;
  const bool primed = t->fprevresult != nullptr;
  const bool none = qal3::guarded(true, [&] { return !fun || fun(block, t); });
  if (none || !t->fresult) {
    const bool first = none && !primed && t->fprevresult != nullptr;
    return {first ? QAL3_REPLAY_FIRST_EVENT : QAL3_REPLAY_NO_RESULT, kNaN};
  }
  const float value = *t->fresult;
  const bool fires = op && qal3::guarded(false, [&] { return op(value, t->low, t->upper, t->bitmask); });
  return {fires ? QAL3_REPLAY_FIRES : QAL3_REPLAY_NOT_FIRED, value};
}

std::string channel_of(const qal3_user_case_trigger& t) {
  return std::string(t.channel, strnlen(t.channel, sizeof t.channel));
}

std::uint32_t bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// The layout of an entry: everything of it but where its data is.
struct Shape {
  bool named;
  std::string channel;
  int subchannel;
  int kind;
  std::uint32_t start;
  std::uint32_t inc;
  std::size_t samples;

  explicit Shape(const qal3_replay_data& d)
      : named(d.channel != nullptr),
        channel(d.channel ? d.channel : ""),
        subchannel(d.kind == QAL3_REPLAY_SLOW ? 0 : d.subchannel),
        kind(d.kind),
        start(d.kind == QAL3_REPLAY_SPECTRUM ? bits(d.start) : 0),
        inc(d.kind == QAL3_REPLAY_SPECTRUM ? bits(d.inc) : 0),
        samples(d.kind == QAL3_REPLAY_SPECTRUM ? d.samples : 1) {}
  bool same_channel(const Shape& o) const { return named == o.named && channel == o.channel; }
  bool operator==(const Shape& o) const {
    return same_channel(o) && subchannel == o.subchannel && kind == o.kind && start == o.start && inc == o.inc &&
           samples == o.samples;
  }
};

// Why the entries cannot be replayed, or "" when they can.
std::string refusal(const std::vector<Shape>& shapes, const qal3_replay_data* data) {
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const Shape& s = shapes[i];
    const std::string what = "data entry " + std::to_string(i) + (s.named ? " (channel '" + s.channel + "')" : "");
    if (s.kind != QAL3_REPLAY_SPECTRUM && s.kind != QAL3_REPLAY_VALUE && s.kind != QAL3_REPLAY_SLOW)
      return what + ": unknown kind " + std::to_string(s.kind);
    if (s.kind == QAL3_REPLAY_SLOW && !s.named) return what + ": slow data needs a channel name";
    if (s.subchannel < 0 || s.subchannel > kMaxSubchannel)
      return what + ": subchannel " + std::to_string(s.subchannel) + " is outside 0.." + std::to_string(kMaxSubchannel);
    if (s.kind == QAL3_REPLAY_SPECTRUM && (s.samples > kMaxSamples || !(data[i].inc != 0.0f)))
      return what + (s.samples > kMaxSamples ? ": too many samples" : ": the axis step is 0 or NaN");
    for (std::size_t j = 0; j < i; ++j) {
      if (!shapes[j].same_channel(s)) continue;
      if (shapes[j].kind != s.kind) return what + ": the channel is given two kinds of data";
      if (shapes[j].subchannel == s.subchannel) return what + ": the channel and subchannel are given twice";
    }
  }
  return "";
}

// Samples [first, end) of a row.
struct Span {
  std::size_t first;
  std::size_t end;
};

// The samples of a spectrum of `ns` samples on the axis start + i * inc
// that `t` reads, as the built-in functions select them: a window (its
// first sample for a function reading one position), nothing when that is
// empty; the whole spectrum for a function of the site's.
Span read_span(const qal3_user_case_trigger& t, float start, float inc, std::size_t ns) {
  using qal3::trigger::Reads;
  const qal3::trigger::BuiltinFunction* f = qal3::trigger::builtin_in_slot(t.function);
  if (!f) return {0, ns};
  const bool position = f->reads == Reads::position;
  if (!position && f->reads != Reads::window) return {0, ns};
  qal3::trigger::Window w;
  if (!qal3::trigger::select_window(t.fparam, start, inc, static_cast<int>(ns), position, w)) return {0, 0};
  const auto first = static_cast<std::size_t>(w.first);
  return {first, position ? first + 1 : static_cast<std::size_t>(w.end)};
}

// One copy per event: `count` floats from the entry's row at `first` to `to`.
struct Copy {
  std::size_t entry;
  std::size_t first;
  std::size_t count;
  float* to;
};

// The blocks of a layout, what each event copies into them, and the block
// each trigger reads (null: no data).
struct Plan {
  std::vector<Shape> shapes;
  std::vector<Block> blocks;
  std::vector<Copy> copies;
  std::vector<qal3_serv_block_subhead_2010*> read;
};

// The entries of one channel (named, or the unnamed ones).
std::vector<std::size_t> entries_of(const std::vector<Shape>& shapes, std::size_t first) {
  std::vector<std::size_t> out;
  for (std::size_t i = first; i < shapes.size(); ++i)
    if (shapes[i].same_channel(shapes[first])) out.push_back(i);
  return out;
}

// The block of one channel's entries `ids`, laid out with the first
// event's rows of `data`, and its copies for the triggers that read it
// (`readers`: their indices in `triggers`).
Block channel_block(const std::vector<Shape>& shapes, const std::vector<std::size_t>& ids, const qal3_replay_data* data,
                    const std::vector<TriggerPtr>& triggers, const std::vector<std::size_t>& readers,
                    std::vector<Copy>& copies) {
  const Shape& s = shapes[ids.front()];
  const char* name = s.named ? s.channel.c_str() : "replay";
  int nsub = 0;
  for (std::size_t i : ids) nsub = std::max(nsub, shapes[i].subchannel + 1);
  Block block;
  if (s.kind == QAL3_REPLAY_SLOW) {
    qal3_upd_data_block_2010 upd{};
    std::snprintf(upd.upd_prop, sizeof upd.upd_prop, "%s", name);
    upd.upd_ch_data = data[ids.front()].data[0];
    block.reset(qal3_evutl_make_slow(name, 1, &upd, 0, nullptr));
  } else if (s.kind == QAL3_REPLAY_VALUE) {
    std::vector<float> values(static_cast<std::size_t>(nsub), kNaN);
    for (std::size_t i : ids) values[static_cast<std::size_t>(shapes[i].subchannel)] = data[i].data[0];
    block.reset(qal3_evutl_make_namval(name, nsub, values.data()));
  } else {
    std::vector<qal3_spect_header_2010> heads(static_cast<std::size_t>(nsub), qal3_spect_header_2010{});
    std::vector<const float*> rows(heads.size(), nullptr);
    for (std::size_t i : ids) {
      const auto sub = static_cast<std::size_t>(shapes[i].subchannel);
      heads[sub] = {data[i].start, data[i].inc, static_cast<int32_t>(shapes[i].samples), 1, 1.0f};
      rows[sub] = data[i].data;
    }
    block.reset(qal3_evutl_make_spectrum(name, QAL3_DATA_SPECTRUM, nsub, heads.data(), rows.data()));
  }
  if (!block) throw std::bad_alloc();
  for (std::size_t i : ids) {
    float* to = nullptr;
    if (s.kind == QAL3_REPLAY_SLOW) {
      qal3_upd_data_block_2010* found = nullptr;
      qal3_user_case_trigger probe{};
      std::snprintf(probe.channel, sizeof probe.channel, "%s", name);
      find_upd_channel_2010(block.get(), &probe, &found);
      to = found ? &found->upd_ch_data : nullptr;
    } else {
      to = get_pointer_to_data_2010(block.get(), shapes[i].subchannel);
    }
    if (!to) throw std::bad_alloc();  // a block the builder laid out holds what it was given
    if (s.kind != QAL3_REPLAY_SPECTRUM) {
      copies.push_back({i, 0, 1, to});
      continue;
    }
    std::vector<Span> spans;
    for (std::size_t k : readers) {
      if (triggers[k]->subchannel != shapes[i].subchannel) continue;
      const Span r = read_span(*triggers[k], data[i].start, data[i].inc, shapes[i].samples);
      if (r.first < r.end) spans.push_back(r);
    }
    std::sort(spans.begin(), spans.end(), [](const Span& x, const Span& y) { return x.first < y.first; });
    std::vector<Span> merged;
    for (const Span& r : spans) {
      if (!merged.empty() && r.first <= merged.back().end)
        merged.back().end = std::max(merged.back().end, r.end);
      else
        merged.push_back(r);
    }
    for (const Span& r : merged) copies.push_back({i, r.first, r.end - r.first, to});
  }
  return block;
}

// Whether a trigger of `t`'s channel and subchannel finds data among the
// entries of one channel, `ids`.
bool serves(const std::vector<Shape>& shapes, const std::vector<std::size_t>& ids, const qal3_user_case_trigger& t) {
  for (std::size_t i : ids)
    if (shapes[i].kind == QAL3_REPLAY_SLOW || shapes[i].subchannel == t.subchannel) return true;
  return false;
}

// The entries (of one channel) trigger `t` reads: its channel's, else the
// unnamed ones; empty when it finds no data there.
std::vector<std::size_t> entries_read(const std::vector<Shape>& shapes, const qal3_user_case_trigger& t) {
  const std::string name = channel_of(t);
  std::size_t unnamed = shapes.size();
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (shapes[i].named && shapes[i].channel == name) {
      std::vector<std::size_t> ids = entries_of(shapes, i);
      return serves(shapes, ids, t) ? ids : std::vector<std::size_t>();
    }
    if (!shapes[i].named && unnamed == shapes.size()) unnamed = i;
  }
  if (unnamed == shapes.size()) return {};
  std::vector<std::size_t> ids = entries_of(shapes, unnamed);
  return serves(shapes, ids, t) ? ids : std::vector<std::size_t>();
}

Plan make_plan(std::vector<Shape> shapes, const qal3_replay_data* data, const std::vector<TriggerPtr>& triggers) {
  Plan p;
  p.read.assign(triggers.size(), nullptr);
  std::vector<bool> laid(shapes.size(), false);
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (laid[i]) continue;
    const std::vector<std::size_t> ids = entries_of(shapes, i);
    for (std::size_t j : ids) laid[j] = true;
    std::vector<std::size_t> readers;
    for (std::size_t k = 0; k < triggers.size(); ++k)
      if (valid_slots(*triggers[k]) && entries_read(shapes, *triggers[k]) == ids) readers.push_back(k);
    if (readers.empty()) continue;  // data no trigger reads is not laid out
    p.blocks.push_back(channel_block(shapes, ids, data, triggers, readers, p.copies));
    for (std::size_t k : readers) p.read[k] = p.blocks.back().get();
  }
  p.shapes = std::move(shapes);
  return p;
}

void refuse(const std::string& why) {
  const std::string line = "qal3_replay_run: " + why;
  qal3::messages::print(qal3::messages::err, qal3::messages::error, qal3::messages::flush, "%s\n", line.c_str());
}

}  // namespace

struct qal3_replay {
  std::vector<TriggerPtr> triggers;
  Plan plan;  // the layout of the last run, kept for the next one
};

qal3_replay* qal3_replay_new(qal3_user_case_trigger* const* triggers, size_t count) {
  if (count && !triggers) return nullptr;
  return qal3::guarded<qal3_replay*>(nullptr, [&]() -> qal3_replay* {
    auto r = std::make_unique<qal3_replay>();
    for (size_t k = 0; k < count; ++k) {
      if (!triggers[k]) return nullptr;
      TriggerPtr t(static_cast<qal3_user_case_trigger*>(std::calloc(1, sizeof(qal3_user_case_trigger))));
      if (!t || QAL3_USER_COPY(triggers[k], t.get())) return nullptr;
      if (!t->fresult) t->fresult = static_cast<float*>(std::malloc(sizeof(float)));
      if (!t->fresult) return nullptr;
      r->triggers.push_back(std::move(t));
    }
    return r.release();
  });
}

void qal3_replay_free(qal3_replay* replay) { delete replay; }

size_t qal3_replay_size(const qal3_replay* replay) { return replay ? replay->triggers.size() : 0; }

const qal3_user_case_trigger* qal3_replay_trigger(const qal3_replay* replay, size_t k) {
  return replay && k < replay->triggers.size() ? replay->triggers[k].get() : nullptr;
}

int qal3_replay_run(qal3_replay* replay, const qal3_replay_data* data, size_t count, size_t events,
                    signed char* outcomes, float* values) {
  if (!replay) return -1;
  if (!data && count) {
    refuse("no data entries");
    return -1;
  }
  return qal3::guarded(
      -1,
      [&] {
        std::vector<Shape> shapes(data, data + count);
        if (events == 0) return 0;
        const std::string why = refusal(shapes, data);
        if (!why.empty()) {
          refuse(why);
          return -1;
        }
        for (size_t i = 0; i < count; ++i) {
          if (!data[i].data) {
            refuse("data entry " + std::to_string(i) + ": no data");
            return -1;
          }
        }
        Plan& plan = replay->plan;
        if (plan.read.size() != replay->triggers.size() || plan.shapes != shapes) {
          plan = Plan();
          plan = make_plan(std::move(shapes), data, replay->triggers);
        }
        const size_t nt = replay->triggers.size();
        for (size_t e = 0; e < events; ++e) {
          for (const Copy& c : plan.copies)
            std::memcpy(c.to + c.first, data[c.entry].data + e * data[c.entry].stride + c.first,
                        c.count * sizeof(float));
          for (size_t k = 0; k < nt; ++k) {
            const Outcome o =
                plan.read[k]
                    ? evaluate(plan.read[k], replay->triggers[k].get())
                    : Outcome{valid_slots(*replay->triggers[k]) ? QAL3_REPLAY_NO_DATA : QAL3_REPLAY_INVALID, kNaN};
            if (outcomes) outcomes[e * nt + k] = static_cast<signed char>(o.outcome);
            if (values) values[e * nt + k] = o.value;
          }
        }
        return 0;
      },
      [&] {
        replay->plan = Plan();
        refuse("out of memory");
      });
}

int qal3_replay_finds(const qal3_replay* replay, size_t k, const qal3_replay_data* data, size_t count) {
  if (!replay || k >= replay->triggers.size() || (!data && count)) return -1;
  return qal3::guarded(-1, [&] {
    const std::vector<Shape> shapes(data, data + count);
    return entries_read(shapes, *replay->triggers[k]).empty() ? 0 : 1;
  });
}

qal3_serv_block_subhead_2010* qal3_replay_block(const qal3_replay_data* data, size_t count, size_t event,
                                                const qal3_user_case_trigger* trigger) {
  if (!trigger || (!data && count)) return nullptr;
  return qal3::guarded<qal3_serv_block_subhead_2010*>(nullptr, [&]() -> qal3_serv_block_subhead_2010* {
    const std::vector<Shape> shapes(data, data + count);
    if (!refusal(shapes, data).empty()) return nullptr;
    const std::vector<std::size_t> ids = entries_read(shapes, *trigger);
    std::vector<qal3_replay_data> at(data, data + count);
    for (qal3_replay_data& d : at) {
      if (!d.data) return nullptr;
      d.data += event * d.stride;
    }
    if (ids.empty()) return nullptr;
    std::vector<Copy> unused;
    return channel_block(shapes, ids, at.data(), {}, {}, unused).release();
  });
}

int qal3_replay_get_previous(const qal3_replay* replay, size_t k, float* value) {
  if (!replay || !value || k >= replay->triggers.size()) return -1;
  const float* p = replay->triggers[k]->fprevresult;
  if (!p) return 0;
  *value = *p;
  return 1;
}

int qal3_replay_set_previous(qal3_replay* replay, size_t k, const float* value) {
  if (!replay || k >= replay->triggers.size()) return -1;
  qal3_user_case_trigger& t = *replay->triggers[k];
  if (!value) {
    std::free(t.fprevresult);
    t.fprevresult = nullptr;
    return 0;
  }
  if (!t.fprevresult) t.fprevresult = static_cast<float*>(std::malloc(sizeof(float)));
  if (!t.fprevresult) return -1;
  *t.fprevresult = *value;
  return 0;
}

void qal3_replay_reset(qal3_replay* replay) {
  if (!replay) return;
  for (size_t k = 0; k < replay->triggers.size(); ++k) qal3_replay_set_previous(replay, k, nullptr);
}

int qal3_replay_evaluate(qal3_serv_block_subhead_2010* block, qal3_user_case_trigger* trigger, float* value) {
  if (value) *value = kNaN;
  if (!block || !trigger) return QAL3_REPLAY_INVALID;
  const Outcome o = evaluate(block, trigger);
  if (value) *value = o.value;
  if (o.outcome != QAL3_REPLAY_FIRES && o.outcome != QAL3_REPLAY_NOT_FIRED) {
    std::free(trigger->fresult);
    trigger->fresult = nullptr;
  }
  return o.outcome;
}
