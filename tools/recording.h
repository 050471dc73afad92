// Recordings for `trigger test --recording`: the channels of an HDF5 file,
// an .npz archive or a lone .npy file, read block by block as float32.
//
// Names: a data set or member named NAME is subchannel 0 of channel NAME;
// one named NAME[k] (a decimal number in brackets at the very end, 0..4095)
// is subchannel k of channel NAME. In HDF5 channel "A/B" is data set B of
// group A; in an .npz archive it is member "A/B.npy". A 2-D array is a
// spectrum (events x samples), a 1-D array one value per event.
//
// Messages (`error`) never repeat the path the caller gave: the caller puts
// it in front ("qal3: FILE: not a recording: ..."). Names from inside a file
// are shown with control characters and invalid UTF-8 as \xNN.
#ifndef QAL3_TOOLS_RECORDING_H
#define QAL3_TOOLS_RECORDING_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "qal3_replay.h"

namespace recording {

// The greatest subchannel of the NAME[k] form: the last a replay takes.
constexpr int kMaxSubchannel = QAL3_REPLAY_MAX_SUBCHANNEL;

struct Channel {
  std::string name;         // channel name, as triggers name it
  int subchannel = 0;       // from the NAME[k] form, 0..kMaxSubchannel
  bool spectrum = false;    // 2-D (events x samples): a spectrum; 1-D: one value per event
  std::size_t samples = 1;  // per event (1 for values; a spectrum may have 0)
  std::string where;        // the data set path or member name, for messages
};

// One open recording file. Not copyable; single-threaded (HDF5 is).
class Recording {
 public:
  virtual ~Recording();
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Opens `path`: HDF5 (by its signature), an .npz (a zip archive of .npy
  // members) or an .npy file, whose one channel `npy_channel` names ("NAME"
  // or "NAME[k]"; an .npy without it is refused; ignored for the others).
  // HDF5: every data set of 1 or 2 dimensions and an integer or float type
  // reachable through hard links is a channel; others (and data sets stored
  // in other files) are skipped. .npz: every member whose name ends in
  // ".npy" is a channel, and one it cannot read refuses the archive. Two
  // arrays of one channel and subchannel, or channels of different numbers
  // of events, are refused. Null with `error` set ("not a recording: ...",
  // with the library's reason) when it cannot open; a build without HDF5
  // or libzip says "this build of qal3 reads no HDF5 recordings" / "... no
  // .npz recordings".
  static std::unique_ptr<Recording> open(const std::string& path, const std::string& npy_channel, std::string& error);

  // The channels, in the order of the file (HDF5: by name, group by group).
  const std::vector<Channel>& channels() const { return channels_; }
  // The number of events (rows) of every channel; 0 without channels.
  std::size_t events() const { return events_; }
  // The index of channel `name`, subchannel `subchannel`; channels().size()
  // when there is none.
  std::size_t find(const std::string& name, int subchannel) const;

  // Events [first, first + count) of channel `c` as float32, row after row,
  // into `out` (count * channels()[c].samples floats), converted as numpy's
  // astype(float32) does. Reading forward from where the last read of the
  // channel ended is cheapest. False with `error` set (naming the data set
  // or member) when `c` or the rows are out of range or the file fails.
  virtual bool read(std::size_t c, std::size_t first, std::size_t count, float* out, std::string& error) = 0;

 protected:
  Recording() = default;
  std::vector<Channel> channels_;
  std::size_t events_ = 0;
};

}  // namespace recording

#endif  // QAL3_TOOLS_RECORDING_H
