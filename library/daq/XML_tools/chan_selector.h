/// \file
/// Channel selection over loaded channel descriptions: a DAQ consumer loads
/// one or more description documents and asks, per channel, whether it
/// belongs to an event type, which event and data type it has, whether it is
/// a slow or an ML channel, and how many subchannels it has.
/// An object serves one thread at a time; objects of their own may be used
/// in several threads at once.
#ifndef QAL3_CHAN_SELECTOR_H
#define QAL3_CHAN_SELECTOR_H

#include <memory>
#include <vector>

#include "descr_extractor.h"
#include "event_util.h"
#include "qal3_export.h"

/// Questions about channels over the channel descriptions it loaded.
class QAL3_API chan_selector : public descr_extractor {
 public:
  /// Starts empty (no descriptions, no event types), reading file paths
  /// (mode 0) with event and data types stored as masks (shift on), which the
  /// event-type queries need.
  chan_selector();
  /// Releases every loaded description.
  ~chan_selector() override;
  chan_selector(const chan_selector&) = delete;
  chan_selector& operator=(const chan_selector&) = delete;

  /// Number of loaded descriptions.
  int size();

  /// Whether later loads store event and data types as masks.
  void set_shift(bool s);

  /// As set_mode: false when `m` (0 file paths, 1 documents in memory) was
  /// set, true for any other value.
  bool change_mode(int m);

  /// Loads every document of *source (see get_descriptions) into this
  /// selector. On success widens the event types by the ev_type of every
  /// loaded description and returns false; on failure returns true and the
  /// event types stay as they were (records read before the failure stay).
  bool set_descriptions(std::vector<char*>* source, int* total);

  /// Whether channel `chan` is wanted in events of type `ev_type`: true when
  /// nothing is loaded; false when no loaded description has event type
  /// `ev_type`; otherwise true when a description carries `chan` as its DAQ
  /// name (local and ML event types) or its property name (other types).
  bool find_channel(int ev_type, char* chan);

  /// Stores `cnt` in the counter of description `num`; true when `num` is out
  /// of range.
  bool set_counter(int num, int cnt);

  /// Event-type mask of the first description that carries `chan` under one
  /// of its event types (DAQ name for local and ML types, property or DAQ
  /// name for others); 0 with a message when nothing matches.
  int get_event_type(char* chan);

  /// Data type of the first description whose DAQ name is `chan`, else 0.
  int get_data_type(char* chan);

  ///@{
  /// DAQ name / property name of description `num`; null when out of range.
  char* get_channel(int num);
  char* get_prop(int num);
  ///@}

  /// 1 when description `num`'s channel has a slow event type (BOR, EOR,
  /// ENV or UPD), 0 when not, -1 when `num` is out of range or the channel
  /// has no event type.
  int is_channel_slow(int num);

  /// 1 when description `num`'s channel is an ML channel, 0 when not, -1 as
  /// for is_channel_slow.
  int is_channel_ml(int num);

  /// 1 for a slow channel, otherwise the number of dimensions of description
  /// `num`; 0 when `num` is out of range or the channel has no event type.
  int get_subchannels(int num);

  /// Writes the loaded descriptions with dump_chan_desr(descriptions, file,
  /// mode, format): with no file name an XML dump prints the list instead.
  void dump(char* file, int dump_mode, int format);

 protected:
  /// OR of the event-type masks of every description loaded.
  int ev_types;
  /// The loaded descriptions, owned. The name lookups are indexed when
  /// set_descriptions loads; names and types must not be changed afterwards.
  std::vector<chan_descr_2010*> descr;
  /// Passed to the readers: event and data types stored as masks.
  bool shift;

 private:
  class name_index;
  struct answers;
  // Rebuilds the name lookup after the descriptions changed.
  void reindex();
  // Looks a non-null name up (by the index, or by scanning without one).
  answers lookup(const char* chan) const;
  std::unique_ptr<name_index> index_;
};

#endif  // QAL3_CHAN_SELECTOR_H
