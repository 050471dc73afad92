// What the documents checked together say of one another: the names each
// document gives (channel description properties and DAQ names, trigger
// and event list channels, dictionary properties) with their places, and
// the findings across documents once all are read. Hash maps keyed by
// name, so the cost stays linear in the documents' size.
#ifndef QAL3_CHECK_FOLDER_H
#define QAL3_CHECK_FOLDER_H

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "check_document.h"

namespace check {

class Folder {
 public:
  // Takes the names of `doc`, a document read for checking and named
  // `file`; the document may be released afterwards.
  void add(const std::string& file, const Document& doc);

  // The findings across the documents added (warnings), each with the name
  // of the file it is in, in the order the files were added and by
  // position in each. A finding names the other place it concerns.
  std::vector<std::pair<std::string, Finding>> findings() const;

 private:
  // A name at a place in one of the files (an index into files_).
  struct Place {
    std::size_t file = 0;
    Position at;
  };
  // A property or DAQ name as one channel description gives it.
  struct Described {
    Place place;
    std::string property, daq_name, db_key;  // db_key as the reader reads it
  };
  // A name another document looks up in the descriptions.
  struct Reference {
    Place place;  // the first
    std::string name;
    std::size_t times = 1;
  };
  enum class Kind { trigger, event_list, dictionary };

  void describe(const Described& d);
  void know(const std::string& name, const Place& place);
  void refer(Kind kind, const Place& place, std::string name);
  std::string where(const Place& p) const;
  // Each known name in upper case, and with one character left out: made
  // only when a name is looked up that no description has.
  struct NearIndex {
    std::unordered_map<std::string, std::pair<std::string, Place>> upper, shortened;
  };
  NearIndex near_index() const;
  // A described name equal to `name` but for case, or for one character
  // more, less or different (or two swapped); null when none.
  static const std::pair<std::string, Place>* near(const NearIndex& index, const std::string& name);
  Finding unknown(Kind kind, const Reference& r, const std::pair<std::string, Place>* near) const;

  std::vector<std::string> files_;
  std::unordered_map<std::string, Described> properties_;  // the first description of each
  std::unordered_map<std::string, Described> daq_names_;
  std::unordered_map<std::string, Place> known_;               // properties and DAQ names
  std::vector<std::string> known_order_;                       // the same, in the order described
  std::vector<std::pair<Described, Described>> differing_;     // (first, again) of a property
  std::vector<std::pair<Described, Described>> shared_names_;  // (first, again) of a DAQ name
  std::vector<std::pair<Kind, Reference>> references_;         // one per kind and name
  std::unordered_map<std::string, std::size_t> referred_;      // kind and name: index in references_
  bool descriptions_ = false;                                  // some document describes channels
  Place first_description_;
};

}  // namespace check

#endif  // QAL3_CHECK_FOLDER_H
