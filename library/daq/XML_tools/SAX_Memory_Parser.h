/// \file
/// Pull parser over the Xerces-C SAX parser for a document held in memory.
///
/// Each parse() call advances the SAX parser by one token and hands out the
/// name of the current element, its text and (through get_attr) its
/// attributes. An element's text is handed out whole: a step reads on over
/// the comments, processing instructions, CDATA sections and entity
/// references within it. Strings handed out belong to the parser and stay
/// valid until the next parse() call or the parser's destruction.
///
/// Documents are read without loading any external DTD or entity, and entity
/// expansion is bounded: such documents end as an error.
///
/// The Xerces platform. Every parser object (memory or file) holds one
/// platform reference while it lives (an XMLPlatformUtils::Initialize call
/// when it is built, a Terminate call when it is destroyed), so callers need
/// not initialise Xerces. On top of that, the first initialisation that
/// succeeds in the process (by either parser or by the GigE feature reader)
/// takes one more reference, which the library keeps until the process ends.
/// Each thread keeps the Xerces parser of its last document read to its end
/// without error (unless it grew past a bound) for its next document; the
/// kept parser holds its object's reference until it is reused or the thread
/// ends. What a caller may rely on:
/// - Once a parser has been built, the platform stays initialised for the
///   rest of the process: later documents, small ones in particular, pay no
///   platform set-up or tear-down, whether or not another parser is alive.
/// - A caller may still make its own Initialize and Terminate calls; they
///   must be balanced among themselves (one Terminate too many would take
///   the library's reference away).
/// - Parsers may be built, used and destroyed in any number of threads at
///   once, each parser by one thread at a time. The library makes its
///   Initialize and Terminate calls under a lock of its own; Xerces does not
///   lock the platform count, so a caller's own Initialize and Terminate
///   calls must not run while other threads build or destroy parsers.
/// - If setting the platform up fails (memory ran out half-way), the
///   half-built platform is kept as it is and that and every later parser
///   reports init_ok() false; the process is not ended.
#ifndef QAL3_SAX_MEMORY_PARSER_H
#define QAL3_SAX_MEMORY_PARSER_H

#include <cstddef>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "qal3_export.h"

namespace qal3 {
namespace pull {
struct HandlerAccess;
}  // namespace pull
}  // namespace qal3

/// One attribute of the most recent start tag; strings owned by the handler.
struct attr {
  const char* name;   ///< attribute name
  const char* type;   ///< always null
  const char* value;  ///< attribute value
};

/// SAX handler that reduces the callbacks to the pull state: current element
/// name and text, its attributes, an error count and an end-of-element flag.
/// Shared by the memory and the file parser.
class QAL3_API QAL3PullHandler : public xercesc::HandlerBase {
 public:
  QAL3PullHandler();
  ~QAL3PullHandler() override;
  QAL3PullHandler(const QAL3PullHandler&) = delete;
  QAL3PullHandler& operator=(const QAL3PullHandler&) = delete;

  /// Number of start tags since the document began.
  unsigned int getElementCount() const { return fElementCount; }
  /// Number of attributes of those start tags.
  unsigned int getAttrCount() const { return fAttrCount; }
  /// Number of text characters (UTF-16 units) since the document began.
  unsigned int getCharacterCount() const { return fCharacterCount; }
  /// Number of ignorable white-space characters since the document began.
  unsigned int getSpaceCount() const { return fSpaceCount; }
  /// Name of the current element, or null.
  const char* getTag() const { return tag; }
  /// Text of the current element, or null.
  const char* getValue() const { return value; }
  /// Both current strings at once; either out-pointer may be null.
  void getTagValue(const char** t, const char** v) const;
  /// Number of warnings, errors and fatal errors since the document began.
  int getErrorCount() const;
  /// Value of the first attribute of the last start tag named `name`, or null.
  const char* getAttr(char* name) const;

  /// Releases tag and value (and the attributes) when the last step brought
  /// text or an end tag; otherwise keeps them for the next step.
  void reset_end_tag_flag();
  /// Forgets the current name and text (the buffers are kept).
  void resetTagValue();
  /// Forgets the current name.
  void resetTag();
  /// Forgets the current text.
  void resetValue();
  /// Releases the attributes, value and tag (as the destructor does).
  void releaseAll();

  /// Ends a pull step: text gathered during the step becomes the value.
  void finishStep() {
    if (fTextPending) flushText();
  }
  /// Counts a failure that did not come through the error callbacks.
  void countError();

  ///@{
  /// SAX callbacks.
  void characters(const XMLCh* chars, XMLSize_t length) override;
  void endElement(const XMLCh* name) override;
  void ignorableWhitespace(const XMLCh* chars, XMLSize_t length) override;
  void resetDocument() override;
  void startElement(const XMLCh* name, xercesc::AttributeList& attributes) override;
  void error(const xercesc::SAXParseException& exc) override;
  void fatalError(const xercesc::SAXParseException& exc) override;
  void warning(const xercesc::SAXParseException& exc) override;
  ///@}

 private:
  friend struct qal3::pull::HandlerAccess;

  void report(const char* prefix, const xercesc::SAXParseException& exc);
  void releaseAttributes();
  void flushText();
  void clearText();
  void appendWideText(const XMLCh* chars, std::size_t length);
  void storeAttributes(xercesc::AttributeList& attributes, std::size_t n);

  unsigned int fElementCount = 0;
  unsigned int fAttrCount = 0;
  unsigned int fCharacterCount = 0;
  unsigned int fSpaceCount = 0;
  const char* tag = nullptr;    // null, or fTagBuf's text
  const char* value = nullptr;  // null, or fValueBuf's text
  std::vector<attr*> vattr;     // records of fAttrPool, in document order
  int error_count = 0;
  bool end_flag = false;

  // Storage behind tag, value and the attribute records, reused from step
  // to step so that a pull step allocates nothing once warmed up. Each
  // buffer's size is its capacity; the text in it is NUL-terminated.
  struct AttrSlot {
    attr record{};  // type stays null: nothing hands it out
    std::vector<char> name, value;
  };
  std::vector<char> fTagBuf;
  std::vector<char> fValueBuf;
  std::vector<AttrSlot> fAttrPool;
  mutable std::size_t fAttrHint = 0;  // where getAttr's next search begins
  // Text of the current element gathered within one step (the SAX layer
  // splits text at entity and character references and in long runs).
  // While every unit is ASCII it goes straight into fValueBuf (fNarrowLen
  // bytes so far); from the first other unit on, all of it is kept in fText
  // and converted when the step ends.
  std::vector<XMLCh> fText;
  std::size_t fNarrowLen = 0;
  std::size_t fTextUnits = 0;  // units gathered, in either form
  bool fTextPending = false;
  bool fTextTooLong = false;
  bool fTextWide = false;      // fText holds the text
  bool fTextNonBlank = false;  // a narrow unit other than space, newline, tab
};

/// Handler of the memory parser.
class QAL3_API MemParseHandlers : public QAL3PullHandler {
 public:
  MemParseHandlers() = default;
  ~MemParseHandlers() override;
};

/// The pull parser over a document held in memory (see the file's description).
class QAL3_API SAX_Memory_Parser {
 public:
  /// Prepares a parse of the NUL-terminated document `xml` (null reads as an
  /// empty document). The buffer is not copied: it must stay alive and
  /// unchanged until the parser is destroyed. A failed Xerces initialisation
  /// shows in init_ok(), never as an exception.
  explicit SAX_Memory_Parser(char* xml);
  SAX_Memory_Parser(const SAX_Memory_Parser&) = delete;
  SAX_Memory_Parser& operator=(const SAX_Memory_Parser&) = delete;

  /// True when construction succeeded.
  bool init_ok() { return init; }
  /// Begins the parse (reads the prolog). False on success, true on failure.
  bool start();
  /// One pull step: 0 with *tag/*value set (either may be null); a positive
  /// error count when the document is to be abandoned; -1 once the document
  /// is exhausted. Out-pointers may be null.
  int parse(char** tag, char** value);
  /// Pull steps until one names an element: the same as calling parse()
  /// until it returns non-zero or sets *tag (`tag` must not be null), in
  /// one call. Readers, which skip the steps without a tag, use this.
  int parse_element(char** tag, char** value);
  /// Attribute `name` of the most recent start tag: 0 with *value set, or -1
  /// with *value null (also for null arguments or after any counted error).
  int get_attr(char* name, char** value);
  /// Warnings, errors and fatal errors counted so far.
  int get_error_counter() { return handler ? handler->getErrorCount() : 0; }

  ~SAX_Memory_Parser();

 private:
  friend struct qal3::pull::HandlerAccess;

  bool init = false;
  bool gotMore = true;
  xercesc::MemBufInputSource* memBufIS = nullptr;
  xercesc::SAXParser* parser = nullptr;
  xercesc::XMLPScanToken token;
  MemParseHandlers* handler = nullptr;
};

#endif  // QAL3_SAX_MEMORY_PARSER_H
