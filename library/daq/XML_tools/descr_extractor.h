/// \file
/// Reads a set of channel description documents (CHANDESCRIPTIONS or
/// DAQvariables), named by file path or held in memory, into one list.
/// An object serves one thread at a time; objects of their own may be used
/// in several threads at once.
#ifndef QAL3_DESCR_EXTRACTOR_H
#define QAL3_DESCR_EXTRACTOR_H

#include <vector>

#include "event_util.h"
#include "qal3_export.h"

/// Reads the channel description documents of a source list into one list.
class QAL3_API descr_extractor {
 public:
  /// Starts in mode 0: the sources are file paths.
  descr_extractor();
  virtual ~descr_extractor();

  /// Sets the source kind: 0 file paths, 1 documents held in memory. Returns
  /// false when the mode was set, true (mode unchanged) for any other value.
  bool set_mode(int m);

  /// The current source kind (0 or 1).
  int get_mode();

  /// Reads every document of *source, in order, into *out (mode 0: each entry
  /// is a file path read with parse_descr_list_readf; mode 1: each entry is a
  /// NUL-terminated document read with parse_descr_list_read), passing
  /// `shift` to the readers and never merging repeated properties. Returns
  /// true when the last reader call failed (*total is then left alone);
  /// otherwise stores the number of documents read without error in *total
  /// (when `total` is non-null) and returns false. An empty source stores 0.
  /// A null `source` or `out` is refused with true; a null entry counts as a
  /// failed read. Records read before a failure stay in *out.
  bool get_descriptions(std::vector<char*>* source, int* total, std::vector<chan_descr_2010*>* out, bool shift);

 protected:
  /// True when `ent` is one of the values of *in (false for a null vector).
  bool in_vector(std::vector<int>* in, int ent);

  /// Source kind: 0 file paths, 1 documents in memory; any other value reads
  /// nothing.
  int mode;
};

#endif  // QAL3_DESCR_EXTRACTOR_H
