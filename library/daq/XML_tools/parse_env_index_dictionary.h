/// \file
/// Environment index dictionary: the numbered slow environment channels of
/// the DAQ with the absolute and relative deltas of their values, in the old
/// layout (property names up to 79 characters) and the 2010 layout (up to 255).
///
/// Document:
/// ~~~{.xml}
///   <ENVINDEXDICT>
///     <CHANNEL><INDEX>3</INDEX><PROP>name</PROP><DABS>0.5</DABS><DREL>0.01</DREL></CHANNEL>
///     ...
///   </ENVINDEXDICT>
/// ~~~
///
/// Entries are allocated by the readers with the C allocator (one zero-filled
/// record each) and released by the owner of the list with free().
///
/// Reading, writing and printing may run in several threads at once, each
/// thread with lists of its own.
#ifndef QAL3_PARSE_ENV_INDEX_DICTIONARY_H
#define QAL3_PARSE_ENV_INDEX_DICTIONARY_H

#include <string>
#include <vector>

#include "event.h"
#include "qal3_export.h"

/// One dictionary entry, old layout.
struct qal3_env_index_dictionary_entry {
  int index;                       ///< index of the channel
  qal3_env_dictionary_block data;  ///< name and deltas
};

/// One dictionary entry, 2010 layout.
struct qal3_env_index_dictionary_entry_2010 {
  int index;                            ///< index of the channel
  qal3_env_dictionary_block_2010 data;  ///< name and deltas
};

///@{
/// Readers. `xml` is the NUL-terminated document, `file` the path of a file
/// holding it. One entry is appended to `list` per CHANNEL that has both an
/// INDEX and a non-empty PROP; the list is never cleared, and entries read
/// before a failure stay in it. Result: 0 when the document was read; else 1
/// for a parser that cannot be built, a failed start or a root other than
/// ENVINDEXDICT, plus the parser's error count. Null arguments give 1.
QAL3_API int parse_env_index_dict_list_read(char* xml, std::vector<qal3_env_index_dictionary_entry*>* list);
QAL3_API int parse_env_index_dict_readf(char* file, std::vector<qal3_env_index_dictionary_entry*>* list);
QAL3_API int parse_env_index_dict_list_read_2010(char* xml, std::vector<qal3_env_index_dictionary_entry_2010*>* list);
QAL3_API int parse_env_index_dict_readf_2010(char* file, std::vector<qal3_env_index_dictionary_entry_2010*>* list);
///@}

///@{
/// Writers. `file_name` (null or empty for none) is created ("w"); `mode` 1
/// writes one tab-separated line per entry to it, mode 2 writes the XML
/// document to it and to `fd` (-1 for none), mode 3 puts the document into
/// `xml_str`; other modes write no entries. With no file, `fd` -1 and
/// `xml_str` null the entries are listed on standard output instead.
/// Result: 0 done, 1 the file cannot be created, 2 `list` is null or the
/// document could not be written completely to the file or to `fd`.
QAL3_API int dump_env_index_dict(std::vector<qal3_env_index_dictionary_entry*>* list, char* file_name, int mode, int fd,
                                 std::string* xml_str);
QAL3_API int dump_env_index_dict_2010(std::vector<qal3_env_index_dictionary_entry_2010*>* list, char* file_name,
                                      int mode, int fd, std::string* xml_str);
///@}

///@{
/// Conversion: reads the document `xml` and writes its entries as the
/// writers above do (without a string destination). Result as above, or 3
/// when `xml` cannot be read.
QAL3_API int dump_env_index_dict(char* xml, char* file_name, int mode, int fd);
QAL3_API int dump_env_index_dict_2010(char* xml, char* file_name, int mode, int fd);
///@}

#endif  // QAL3_PARSE_ENV_INDEX_DICTIONARY_H
