/// \file
/// qal3::Family<R>: how the records of each document family are released,
/// read and written, naming the family's own C-style functions (one
/// specialisation per record type). The C++ face's lists (qal3.hpp) are
/// built on it. Header only, C++17; what a function accepts and what its
/// codes mean are documented in the family's header.
#ifndef QAL3_FAMILIES_HPP
#define QAL3_FAMILIES_HPP

#include <cstdlib>
#include <string>
#include <vector>

#include "parse_chan_descr.h"
#include "parse_env_index_dictionary.h"
#include "parse_ev_list.h"
#include "qal3_gige_descr.h"
#include "user_case_trigger.h"

namespace qal3 {

/// How a family's records are released, read and written by the C-style
/// API: one specialisation per record type, each only calling the family's
/// own functions.
template <class R>
struct Family;

/// Channel descriptions (parse_chan_descr.h). Readers take, after the
/// document, `shift` and `delete_duplicated` (both false when left out);
/// writers take the format (0 CHANDESCRIPTIONS, 1 DAQvariables; 0 when left out).
template <>
struct Family<chan_descr_2010> {
  using List = std::vector<chan_descr_2010*>;  ///< the C-style list
  /// Releases the records (clean_chan_desr_list).
  static void release(List& list) { clean_chan_desr_list(&list); }
  /// parse_descr_list_read.
  static int read_text(char* xml, List* list, bool shift = false, bool delete_duplicated = false) {
    return parse_descr_list_read(xml, list, shift, delete_duplicated);
  }
  /// parse_descr_list_readf.
  static int read_file(char* path, List* list, bool shift = false, bool delete_duplicated = false) {
    return parse_descr_list_readf(path, list, shift, delete_duplicated);
  }
  /// dump_chan_desr in mode 2 (the document; `out` starts empty).
  static int write(const List& list, char* file, std::string* out, int format = 0) {
    return dump_chan_desr(const_cast<List*>(&list), file, 2, format, -1, out);
  }
};

/// Event lists (parse_ev_list.h).
template <>
struct Family<qal3_ev_entry> {
  using List = std::vector<qal3_ev_entry*>;  ///< the C-style list
  /// Releases the records (qal3_clean_ev_list).
  static void release(List& list) { qal3_clean_ev_list(&list); }
  /// qal3_parse_ev_list_read.
  static int read_text(char* xml, List* list) { return qal3_parse_ev_list_read(xml, list); }
  /// qal3_parse_ev_list_readf.
  static int read_file(char* path, List* list) { return qal3_parse_ev_list_readf(path, list); }
  /// qal3_write_ev_list.
  static int write(const List& list, char* file, std::string* out) { return qal3_write_ev_list(&list, file, -1, out); }
};

/// The environment index dictionary of either layout
/// (parse_env_index_dictionary.h): `E` is its entry type.
template <class E, auto Read, auto ReadFile, int (*Write)(std::vector<E*>*, char*, int, int, std::string*)>
struct DictionaryFamily {
  using List = std::vector<E*>;  ///< the C-style list
  /// Releases the entries (free, as the header says).
  static void release(List& list) {
    for (E* e : list) std::free(e);
    list.clear();
  }
  /// The family's memory reader.
  static int read_text(char* xml, List* list) { return Read(xml, list); }
  /// The family's file reader.
  static int read_file(char* path, List* list) { return ReadFile(path, list); }
  /// The family's writer: mode 3 into `out`, else mode 2 to the file.
  static int write(const List& list, char* file, std::string* out) {
    return Write(const_cast<List*>(&list), out ? nullptr : file, out ? 3 : 2, -1, out);
  }
};

/// The environment index dictionary, old layout.
template <>
struct Family<qal3_env_index_dictionary_entry>
    : DictionaryFamily<qal3_env_index_dictionary_entry, &parse_env_index_dict_list_read, &parse_env_index_dict_readf,
                       &dump_env_index_dict> {};

/// The environment index dictionary, 2010 layout.
template <>
struct Family<qal3_env_index_dictionary_entry_2010>
    : DictionaryFamily<qal3_env_index_dictionary_entry_2010, &parse_env_index_dict_list_read_2010,
                       &parse_env_index_dict_readf_2010, &dump_env_index_dict_2010> {};

/// Trigger lists (user_case_trigger.h). A reader's failure flag is code 1.
template <>
struct Family<qal3_user_case_trigger> {
  using List = std::vector<qal3_user_case_trigger*>;  ///< the C-style list
  /// Releases each record with QAL3_FREE_USER.
  static void release(List& list) {
    for (qal3_user_case_trigger* t : list) QAL3_FREE_USER(t);
    list.clear();
  }
  /// parse_trigger_list_read.
  static int read_text(char* xml, List* list) { return parse_trigger_list_read(xml, list) ? 1 : 0; }
  /// parse_trigger_list_readf.
  static int read_file(char* path, List* list) { return parse_trigger_list_readf(path, list) ? 1 : 0; }
  /// dump_user_trigger_list: mode 3 into `out`, else mode 2 to the file.
  static int write(const List& list, char* file, std::string* out) {
    return dump_user_trigger_list(const_cast<List*>(&list), out ? nullptr : file, out ? 3 : 2, -1, out);
  }
};

/// GigE camera features (qal3_gige_descr.h): read from files only. A
/// reader's failure flag is code 1.
template <>
struct Family<QAL3GigEFeature> {
  using List = std::vector<QAL3GigEFeature*>;  ///< the C-style list
  /// Releases the records (qal3_clean_gige_descr).
  static void release(List& list) { qal3_clean_gige_descr(&list); }
  /// qal3_fill_gige_descr.
  static int read_file(char* path, List* list) { return qal3_fill_gige_descr(path, list) ? 1 : 0; }
  /// qal3_write_gige_descr.
  static int write(const List& list, char* file, std::string* out) {
    return qal3_write_gige_descr(&list, file, -1, out);
  }
};

}  // namespace qal3

#endif  // QAL3_FAMILIES_HPP
