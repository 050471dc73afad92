// Internals shared by the two pull parsers and the reading loop
// (pull_reader.h): the hardened SAX parser set-up, the start and the pull
// step (its handler's part: pull_handler.h). Not installed. (The Xerces
// platform and the hardening shared with the GigE reader: xerces_platform.h.)
#ifndef QAL3_SAX_PULL_COMMON_H
#define QAL3_SAX_PULL_COMMON_H

#include <cstddef>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/XMLException.hpp>

#include "SAX_File_Parser.h"
#include "SAX_Memory_Parser.h"
#include "bounded_parser.h"
#include "parser_memory.h"
#include "pull_handler.h"

namespace qal3 {
namespace pull {

// The SAX parser of the pull readers: the document limits enforced, over
// its own memory and stream list.
using PullParser = qal3::xml::ParserWithOwnMemory<qal3::xerces::Bounded<xercesc::SAXParser>>;

// A SAX parser configured for the pull readers (automatic validation, no
// namespaces or schema) that never loads external DTDs or entities and
// enforces the document limits (xerces_platform.h), without document or
// error handler. Throws only what Xerces throws on allocation.
PullParser* make_parser();

// A parser for one document with `handler` installed as document and error
// handler, holding one platform reference: the parser the calling thread
// kept from an earlier document (see give_back), or a new one. Null when
// the platform cannot be set up or memory runs out; no reference is held
// then. A read that begins while another is in progress on the same thread
// gets a new parser, as the busy one is not kept.
PullParser* take_parser(QAL3PullHandler& handler);

// Ends the use of a parser from take_parser (null: nothing). `clean`: its
// document was read to its end without a counted error. A clean parser
// that took at most kKeptParserBytes for the document, holds at most that
// much and reads its next document as a new parser would (no XML 1.1
// declaration seen) is kept, with its platform reference, for the
// thread's next document if the thread keeps none; any other is destroyed
// and its reference given back.
// Everything else a document leaves in the parser (entities, the DTD,
// names, limits' counts, errors, the handler) is reset when the next one
// starts. So each thread holds at most one idle parser of at most
// kKeptParserBytes (50 to 80 KiB after a usual document, also after one of
// megabytes) until it ends or calls drop_kept_parser.
void give_back(PullParser* parser, bool clean);
constexpr std::size_t kKeptParserBytes = 256 * 1024;

// Destroys the parser the calling thread keeps, if any.
void drop_kept_parser();

// parseFirst over `source` or the file `path`; prints the start messages.
// False on success, true on failure.
bool start(xercesc::SAXParser& parser, const xercesc::InputSource& source, xercesc::XMLPScanToken& token,
           QAL3PullHandler& handler);
bool start(xercesc::SAXParser& parser, const char* path, xercesc::XMLPScanToken& token, QAL3PullHandler& handler);

// Reports an exception that escaped parseNext, counts it as an error and
// ends the document. Returns false (the new gotMore).
bool next_failed(QAL3PullHandler& handler, const XMLCh* message);
// parseReset after the end of input; never throws. Lines emitted after it
// carry the document but no position.
void reset_scanner(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, QAL3PullHandler& handler);

// Advances the parser by one pull step: the handler then holds the step's
// name and text. 0, the error count when the document is to be abandoned,
// or -1 once it is exhausted. The text of an element is one value however
// the scanner splits it: the step reads on while it goes on. The parser is
// one of take_parser's.
inline int advance(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, bool& gotMore, QAL3PullHandler& handler) {
  HandlerAccess::begin_step(handler);
  if (!gotMore) return -1;
  try {
    gotMore = parser.parseNext(token);
    while (gotMore && HandlerAccess::text_open(handler) && !HandlerAccess::errors(handler) &&
           static_cast<PullParser&>(parser).text_goes_on(HandlerAccess::text_blank(handler)))
      gotMore = parser.parseNext(token);
  } catch (const xercesc::XMLException& e) {
    gotMore = next_failed(handler, e.getMessage());
  } catch (...) {
    gotMore = next_failed(handler, nullptr);
  }
  if (HandlerAccess::text_open(handler)) HandlerAccess::flush_text(handler);
  if (!gotMore) reset_scanner(parser, token, handler);
  return HandlerAccess::errors(handler);
}

// One pull step (see SAX_Memory_Parser::parse). Inline, so that each
// parser's parse() is the whole step.
inline int step(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, bool& gotMore, QAL3PullHandler& handler,
                char** tag, char** value) {
  if (tag) *tag = nullptr;
  if (value) *value = nullptr;
  if (const int rc = advance(parser, token, gotMore, handler)) return rc;
  if (tag) *tag = const_cast<char*>(HandlerAccess::tag(handler));
  if (value) *value = const_cast<char*>(HandlerAccess::value(handler));
  return 0;
}

// Pull steps until one names an element (see SAX_Memory_Parser::parse_element):
// the result of the last step, whose name and text only are handed out.
inline int step_to_element(xercesc::SAXParser& parser, xercesc::XMLPScanToken& token, bool& gotMore,
                           QAL3PullHandler& handler, char** tag, char** value) {
  int rc = 0;
  while ((rc = advance(parser, token, gotMore, handler)) == 0) {
    if (const char* name = HandlerAccess::tag(handler)) {
      *tag = const_cast<char*>(name);
      if (value) *value = const_cast<char*>(HandlerAccess::value(handler));
      return 0;
    }
  }
  *tag = nullptr;
  if (value) *value = nullptr;
  return rc;
}

template <class Parser>
int HandlerAccess::next_element(Parser& p, char** tag, char** value) {
  return step_to_element(*p.parser, p.token, p.gotMore, handler(p), tag, value);
}

// Attribute lookup (see SAX_Memory_Parser::get_attr).
inline int get_attr(const QAL3PullHandler& handler, char* name, char** value) {
  if (value) *value = nullptr;
  if (!name || HandlerAccess::errors(handler) != 0 || !value) return -1;
  const char* found = HandlerAccess::attr(handler, name);
  if (!found) return -1;
  *value = const_cast<char*>(found);
  return 0;
}

}  // namespace pull
}  // namespace qal3

#endif  // QAL3_SAX_PULL_COMMON_H
