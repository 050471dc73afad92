/// \file
/// GigE camera feature descriptions: the features of a camera (integers,
/// floats, enumerations, commands, ...) read from its XML feature file into a
/// flat list. Only element names, the "Name" attribute and text are looked
/// at; categories, registers and nesting are not kept.
/// Reading, printing and cleaning may run in several threads at once, each
/// thread with lists of its own.
#ifndef QAL3_QAL3_GIGE_DESCR_H
#define QAL3_QAL3_GIGE_DESCR_H

#include <string>
#include <vector>
#include <xercesc/util/XercesDefs.hpp>

#include "qal3_export.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMNodeList;
XERCES_CPP_NAMESPACE_END

/// Element names that start a new feature; FeatureTags holds them in this order.
enum feature_tags {
  FEATURE_TYPE_UNDEF = 0,     ///< "Undefined"
  FEATURE_TYPE_INT = 1,       ///< "Integer"
  FEATURE_TYPE_FLOAT = 2,     ///< "Float"
  FEATURE_TYPE_ENUMER = 3,    ///< "Enumeration"
  FEATURE_TYPE_BOOL = 4,      ///< "Boolean"
  FEATURE_TYPE_STRING = 5,    ///< "StringReg"
  FEATURE_TYPE_COMMAND = 6,   ///< "Command"
  FEATURE_TYPE_REGISTER = 7,  ///< "IntReg"
  FEATURE_TYPE_LONG = 8,      ///< "Int64"
  FEATURE_TYPE_MAX = 9        ///< the number of feature types
};

/// Elements that fill fields of the current (last) feature; MoreTags holds
/// them in this order.
enum more_tags {
  MORE_TAGS_EXTENSION = 0,    ///< "Extension": a container, no effect of its own
  MORE_TAGS_PVRENAME = 1,     ///< "PvRename": its text or Name becomes the extension
  MORE_TAGS_TOOLTIP = 2,      ///< "ToolTip": its text becomes the tooltip
  MORE_TAGS_DESCRIPTION = 3,  ///< "Description": its text becomes the description
  MORE_TAGS_MAX = 4           ///< the number of those elements
};

/// Attributes looked at; Attributes holds their names in this order.
enum attribute_names {
  ATTRIBUTE_NAME = 0,  ///< "Name"
  ATTRIBUTE_MAX = 1    ///< the number of those attributes
};

/// The element names of feature_tags, by value.
QAL3_API extern const char* const FeatureTags[FEATURE_TYPE_MAX];
/// The element names of more_tags, by value.
QAL3_API extern const char* const MoreTags[MORE_TAGS_MAX];
/// The attribute names of attribute_names, by value.
QAL3_API extern const char* const Attributes[ATTRIBUTE_MAX];

/// One camera feature. Strings are empty when the file gives nothing (as
/// qal3_fill_gige_descr reads it; dump_nodes leaves placeholders).
class QAL3_API QAL3GigEFeature {
 public:
  QAL3GigEFeature();
  ~QAL3GigEFeature();

  int type;                 ///< a feature_tags value
  std::string name;         ///< "Name" attribute of the feature's element
  std::string extension;    ///< alternative name, from a "PvRename" element
  std::string tooltip;      ///< text of a "ToolTip" element
  std::string description;  ///< text of a "Description" element
};

/// Reads the feature file `file_name`. On success `out` is emptied (records
/// it held are not destroyed: clean a reused list first) and receives one
/// new record per feature element, and the result is false. On any failure
/// (null argument, missing file, XML error, a reference to an undeclared
/// entity, a document past one of the readers' limits: entity expansion,
/// text or attribute length, nesting) a message is printed on standard
/// output, `out` is left as it was and the result is true. External entities
/// and DTDs are never loaded: an entity an external DTD would declare is
/// undeclared.
QAL3_API bool qal3_fill_gige_descr(char* file_name, std::vector<QAL3GigEFeature*>* out);

/// Walks `nodes` and their descendants in document order, appending a
/// feature to `out` for every feature element and filling each feature from
/// its element's attributes and from the elements and text inside it (the
/// innermost feature when features nest); what stands outside every feature
/// element fills nothing. Unlike qal3_fill_gige_descr it leaves the
/// placeholders of the strings in the records: a string nothing filled reads
/// "Unknown", and one whose element ("PvRename", "ToolTip", "Description")
/// came without text after it reads "Waiting"; qal3_fill_gige_descr turns
/// both into the empty string. True when a DOM exception ended the walk of
/// `nodes` (or when `out` or `nodes` is null).
QAL3_API bool dump_nodes(XERCES_CPP_NAMESPACE::DOMNodeList* nodes, std::vector<QAL3GigEFeature*>* out);

/// Prints every feature that has a name, numbered by its position in the list.
QAL3_API void qal3_dump_gige_descr(std::vector<QAL3GigEFeature*>* out);

/// Writes the feature file of `list` (null records are left out), as
/// qal3_fill_gige_descr reads it: one element per feature, named by its
/// type, with its name as the Name attribute and its tooltip, description
/// and extension (the PV name) as elements; empty texts are left out.
/// Destinations as for the other writers: the file `file_name` (null or
/// empty for none; created or truncated), the descriptor `fd` (-1 for none;
/// written completely, never closed) and `xml_str` (null for none; replaced
/// by the document); with none of them the document is printed on standard
/// output. The records are only read; the caller keeps them. Returns 0 when
/// done; 1 when the file cannot be created; 2 when `list` is null, a record's
/// type is not 0 .. FEATURE_TYPE_MAX - 1 or a text holds a NUL character
/// (nothing written), or the document could not be written completely to the
/// file or to `fd`. Every failure is reported on standard output.
QAL3_API int qal3_write_gige_descr(const std::vector<QAL3GigEFeature*>* list, const char* file_name, int fd,
                                   std::string* xml_str);

/// Destroys every record and empties the list; nothing for a null list.
QAL3_API void qal3_clean_gige_descr(std::vector<QAL3GigEFeature*>* out);

#endif  // QAL3_QAL3_GIGE_DESCR_H
