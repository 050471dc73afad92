/// \file
/// Tag-writing helpers: every XML document of the system is assembled as
/// plain text in one std::string with these functions. Names and values are
/// copied verbatim; text that comes from records is passed through
/// xml_escape first so that the document reads back to the same text.
#ifndef QAL3_ATTR_TAGS_FUNCTIONS_H
#define QAL3_ATTR_TAGS_FUNCTIONS_H

#include <string>
#include <vector>

#include "qal3_export.h"

/// Appends "<b>".
QAL3_API void START_TAG(std::string& a, const char* b);
/// Appends "<b>\n".
QAL3_API void START_TAGN(std::string& a, const char* b);
/// Appends "</b>".
QAL3_API void END_TAG(std::string& a, const char* b);
/// Appends "</b>\n".
QAL3_API void END_TAGN(std::string& a, const char* b);

///@{
/// The attribute forms append "<b " and the pairs name="value" of `at` and `v`
/// (paired by index, separated by one space; `v` must hold at least as many
/// entries as `at`, else std::out_of_range is thrown before anything past its
/// end is read). No argument may be null.
/// START_TAG_ATTR ends with "/>", START_TAG_ATTRN with "/>\n",
/// START_TAG_ATTRNS with ">" and START_TAG_ATTRNNS with ">\n".
QAL3_API void START_TAG_ATTR(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v);
QAL3_API void START_TAG_ATTRN(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v);
QAL3_API void START_TAG_ATTRNS(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v);
QAL3_API void START_TAG_ATTRNNS(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v);
///@}

/// Appends `text` escaped for element text and attribute values: & < > " become
/// entity references, tab, newline and carriage return character references
/// (so attribute normalisation and line-end handling keep them), and every
/// character outside ASCII a character reference (text is taken as UTF-8, the
/// form the readers hand out; a byte that starts no valid UTF-8 sequence as
/// its ISO-8859-1 character), so the ISO-8859-1 documents read back to the
/// same text. Characters that no XML 1.0 document can hold (control
/// characters other than tab, newline and carriage return, U+FFFE, U+FFFF)
/// are written as '?'. Null appends nothing.
QAL3_API void xml_escape(std::string& a, const char* text);

/// `text` escaped as xml_escape does it.
QAL3_API std::string xml_escaped(const char* text);

#endif  // QAL3_ATTR_TAGS_FUNCTIONS_H
