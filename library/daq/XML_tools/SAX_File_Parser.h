/// \file
/// Pull parser over the Xerces-C SAX parser for a document in a file: the twin
/// of SAX_Memory_Parser (see there for the pull step, string ownership and
/// the Xerces platform reference every parser object holds).
#ifndef QAL3_SAX_FILE_PARSER_H
#define QAL3_SAX_FILE_PARSER_H

#include "SAX_Memory_Parser.h"

/// Attribute record of the file parser, identical in form to `attr`.
using attrf = attr;

/// Handler of the file parser.
class QAL3_API FileParseHandlers : public QAL3PullHandler {
 public:
  FileParseHandlers() = default;
  ~FileParseHandlers() override;
  /// SAX callback: a new document begins without errors.
  void resetErrors() override;

 private:
  bool fSawErrors = false;
};

/// The pull parser over a document in a file.
class QAL3_API SAX_File_Parser {
 public:
  /// Prepares a parser; the file is named by start().
  SAX_File_Parser();
  SAX_File_Parser(const SAX_File_Parser&) = delete;
  SAX_File_Parser& operator=(const SAX_File_Parser&) = delete;

  /// True when construction succeeded.
  bool init_ok() { return init; }
  /// Begins the parse of the file at path `file`. False on success, true on
  /// failure (null or missing file, unreadable prolog).
  bool start(char* file);
  /// One pull step; as SAX_Memory_Parser::parse.
  int parse(char** tag, char** value);
  /// Steps up to the next one that names an element; as
  /// SAX_Memory_Parser::parse_element.
  int parse_element(char** tag, char** value);
  /// Attribute lookup; as SAX_Memory_Parser::get_attr.
  int get_attr(char* name, char** value);
  /// Warnings, errors and fatal errors counted so far.
  int get_error_counter() { return handler.getErrorCount(); }

  ~SAX_File_Parser();

 private:
  friend struct qal3::pull::HandlerAccess;

  bool init = false;
  bool gotMore = true;
  xercesc::SAXParser* parser = nullptr;
  xercesc::XMLPScanToken token;
  FileParseHandlers handler;
};

#endif  // QAL3_SAX_FILE_PARSER_H
