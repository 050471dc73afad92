// Pull parser over a document in a file.
#include "SAX_File_Parser.h"

#include "reading_scope.h"
#include "sax_pull_common.h"

SAX_File_Parser::SAX_File_Parser() {
  parser = qal3::pull::take_parser(handler);
  init = parser != nullptr;
}

SAX_File_Parser::~SAX_File_Parser() {
  if (init)
    qal3::pull::give_back(static_cast<qal3::pull::PullParser*>(parser), !gotMore && handler.getErrorCount() == 0);
  handler.releaseAll();
  qal3::messages::end_reading(static_cast<QAL3PullHandler*>(&handler));
}

bool SAX_File_Parser::start(char* file) {
  if (!init) return true;
  return qal3::pull::start(*parser, file, token, handler);
}

int SAX_File_Parser::parse(char** tag, char** value) {
  if (!init) {
    if (tag) *tag = nullptr;
    if (value) *value = nullptr;
    return -1;
  }
  return qal3::pull::step(*parser, token, gotMore, handler, tag, value);
}

int SAX_File_Parser::parse_element(char** tag, char** value) {
  if (!init) return parse(tag, value);
  return qal3::pull::step_to_element(*parser, token, gotMore, handler, tag, value);
}

int SAX_File_Parser::get_attr(char* name, char** value) {
  if (!init) {
    if (value) *value = nullptr;
    return -1;
  }
  return qal3::pull::get_attr(handler, name, value);
}
