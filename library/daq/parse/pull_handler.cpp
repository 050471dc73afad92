// QAL3PullHandler: the SAX callbacks reduced to the state of one pull step,
// shared by SAX_Memory_Parser and SAX_File_Parser (declared in
// SAX_Memory_Parser.h; what the pull step runs inline: pull_handler.h).
#include "pull_handler.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "messages.h"
#include "reading_scope.h"
#include "xerces_platform.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using xercesc::XMLString;

namespace {

// Texts longer than this (in UTF-16 units) end the document as an error:
// no reader keeps more, and only entity amplification produces such text.
using qal3::limits::kMaxTextUnits;

// Makes room for `n` bytes in `buf`, whose size is its capacity.
inline char* reserve(std::vector<char>& buf, std::size_t n) {
  if (buf.size() < n) buf.resize(n < 64 ? 64 : n + n / 2);
  return buf.data();
}

// XMLString::transcode of `text` into `buf`: the text, or null when it
// cannot be converted.
__attribute__((noinline)) const char* transcode_slow(const XMLCh* text, std::vector<char>& buf) {
  char* converted = XMLString::transcode(text);
  if (!converted) return nullptr;
  const std::size_t length = std::strlen(converted);
  char* dst = reserve(buf, length + 1);
  std::memcpy(dst, converted, length + 1);
  XMLString::release(&converted);
  return dst;
}

// Converts NUL-terminated Xerces text to the local code page into `buf`
// (NUL-terminated) and returns it, or null when it cannot be converted.
// ASCII text (the usual case) is narrowed directly, which gives the same
// bytes as XMLString::transcode without an allocation; anything else goes
// through XMLString::transcode.
inline const char* transcode_into(const XMLCh* text, std::vector<char>& buf) {
  if (!text) return nullptr;
  std::size_t cap = buf.size();
  char* dst = buf.data();
  XMLCh high = 0;
  for (std::size_t n = 0;; n += 4) {
    if (n + 4 > cap) {
      dst = reserve(buf, n + 4);
      cap = buf.size();
    }
    // Four units at a time; the terminator is copied too.
    XMLCh c = text[n];
    dst[n] = static_cast<char>(c);
    if (c == 0) break;
    high |= c;
    c = text[n + 1];
    dst[n + 1] = static_cast<char>(c);
    if (c == 0) break;
    high |= c;
    c = text[n + 2];
    dst[n + 2] = static_cast<char>(c);
    if (c == 0) break;
    high |= c;
    c = text[n + 3];
    dst[n + 3] = static_cast<char>(c);
    if (c == 0) break;
    high |= c;
  }
  return high < 0x80 ? dst : transcode_slow(text, buf);
}

// Narrows `n` units of `src` into `dst` (no terminator). Returns false when
// a unit is outside ASCII (what `dst` then holds is of no use); else true.
inline bool narrow_ascii(const XMLCh* src, std::size_t n, char* dst) {
  std::size_t i = 0;
  XMLCh high = 0;
#if defined(__SSE2__)
  if (n >= 8) {
    __m128i any = _mm_setzero_si128();  // OR of all units
    for (; i + 8 <= n; i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      any = _mm_or_si128(any, v);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(v, v));
    }
    const __m128i high_bits = _mm_and_si128(any, _mm_set1_epi16(static_cast<short>(0xFF80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high_bits, _mm_setzero_si128())) != 0xFFFF) return false;
  }
#endif
  for (; i < n; ++i) {
    const XMLCh c = src[i];
    high |= c;
    dst[i] = static_cast<char>(c);
  }
  return high < 0x80;
}

// True when the `n` units of `text` are only spaces, newlines and tabs (or
// none). Text is seldom blank, so the search usually ends at its first unit.
template <class Unit>
bool all_blank(const Unit* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const Unit c = text[i];
    if (c != Unit(' ') && c != Unit('\n') && c != Unit('\t')) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// QAL3PullHandler

QAL3PullHandler::QAL3PullHandler() = default;

QAL3PullHandler::~QAL3PullHandler() { releaseAll(); }

MemParseHandlers::~MemParseHandlers() = default;

FileParseHandlers::~FileParseHandlers() = default;

void FileParseHandlers::resetErrors() { fSawErrors = false; }

void QAL3PullHandler::getTagValue(const char** t, const char** v) const {
  if (t) *t = tag;
  if (v) *v = value;
}

int QAL3PullHandler::getErrorCount() const { return error_count; }

const char* QAL3PullHandler::getAttr(char* name) const { return qal3::pull::HandlerAccess::attr(*this, name); }

void QAL3PullHandler::releaseAttributes() { vattr.clear(); }

void QAL3PullHandler::clearText() {
  fText.clear();
  fNarrowLen = 0;
  fTextUnits = 0;
  fTextPending = false;
  fTextTooLong = false;
  fTextWide = false;
  fTextNonBlank = false;
}

void QAL3PullHandler::releaseAll() {
  releaseAttributes();
  value = nullptr;
  tag = nullptr;
  clearText();
}

void QAL3PullHandler::reset_end_tag_flag() { qal3::pull::HandlerAccess::begin_step(*this); }

void QAL3PullHandler::resetTagValue() {
  tag = nullptr;
  value = nullptr;
}

void QAL3PullHandler::resetTag() { tag = nullptr; }

void QAL3PullHandler::resetValue() { value = nullptr; }

void QAL3PullHandler::countError() { ++error_count; }

void QAL3PullHandler::flushText() { qal3::pull::HandlerAccess::flush_text(*this); }

__attribute__((noinline, cold)) void qal3::pull::HandlerAccess::report_too_long(QAL3PullHandler& h) {
  static const char kTooLong[] = "\nError: element text longer than 1048576 characters\n";
  qal3::messages::deliver(qal3::messages::err, qal3::messages::parser_error, qal3::messages::flush, kTooLong,
                          sizeof kTooLong - 1);
  ++h.error_count;
}

// The end of a text with a unit outside ASCII (see flush_text).
void qal3::pull::HandlerAccess::flush_wide_text(QAL3PullHandler& h) {
  if (all_blank(h.fText.data(), h.fText.size())) {
    h.value = nullptr;
    h.tag = nullptr;
  } else {
    h.fText.push_back(0);
    h.value = transcode_into(h.fText.data(), h.fValueBuf);
    if (!h.value) h.tag = nullptr;
  }
  h.clearText();
}

void QAL3PullHandler::characters(const XMLCh* chars, XMLSize_t length) {
  fCharacterCount += static_cast<unsigned int>(length);
  if (!tag && !fTextPending) return;
  fTextPending = true;
  if (fTextUnits + length > kMaxTextUnits) {
    fTextTooLong = true;
    return;
  }
  fTextUnits += length;
  if (!fTextWide) {
    char* dst = reserve(fValueBuf, fNarrowLen + length + 1) + fNarrowLen;
    if (narrow_ascii(chars, length, dst)) {
      fNarrowLen += length;
      if (!fTextNonBlank) fTextNonBlank = !all_blank(dst, length);
      return;
    }
  }
  appendWideText(chars, length);
}

// Text with a unit outside ASCII: from then on the element's text is kept
// in UTF-16 and converted with XMLString::transcode when the step ends.
void QAL3PullHandler::appendWideText(const XMLCh* chars, std::size_t length) {
  if (!fTextWide) {
    fText.assign(fValueBuf.data(), fValueBuf.data() + fNarrowLen);
    fTextWide = true;
  }
  fText.insert(fText.end(), chars, chars + length);
}

void QAL3PullHandler::endElement(const XMLCh*) {
  finishStep();
  end_flag = true;
}

void QAL3PullHandler::ignorableWhitespace(const XMLCh*, XMLSize_t length) {
  fSpaceCount += static_cast<unsigned int>(length);
}

void QAL3PullHandler::resetDocument() {
  fElementCount = fAttrCount = fCharacterCount = fSpaceCount = 0;
  error_count = 0;
  value = nullptr;
  tag = nullptr;
  clearText();
}

void qal3::pull::HandlerAccess::start_element(QAL3PullHandler& h, const char* tag, xercesc::AttributeList& attributes) {
  h.tag = tag;
  ++h.fElementCount;
  h.vattr.clear();
  const XMLSize_t n = attributes.getLength();
  h.fAttrCount += static_cast<unsigned int>(n);
  if (n != 0) h.storeAttributes(attributes, n);
}

void QAL3PullHandler::startElement(const XMLCh* name, xercesc::AttributeList& attributes) {
  finishStep();
  qal3::pull::HandlerAccess::start_element(*this, transcode_into(name, fTagBuf), attributes);
}

// Keeps the name and value of each attribute. Their type is not kept:
// nothing hands it out.
void QAL3PullHandler::storeAttributes(xercesc::AttributeList& attributes, std::size_t n) {
  if (fAttrPool.size() < n) fAttrPool.resize(n);
  vattr.reserve(n);
  fAttrHint = 0;
  for (XMLSize_t i = 0; i < n; ++i) {
    AttrSlot& slot = fAttrPool[i];
    slot.record.name = transcode_into(attributes.getName(i), slot.name);
    slot.record.value = transcode_into(attributes.getValue(i), slot.value);
    vattr.push_back(&slot.record);
  }
}

namespace {

// "\n<What> at (file <system id>, line <l>, char <c>): <message>\n" on
// standard error; to a sink, the message with the document as the caller
// named it (none for a document in memory) and the position.
void report_parse(const void* handler, int kind, const char* prefix, const xercesc::SAXParseException& exc) {
  const std::string system_id = qal3::xerces::transcoded(exc.getSystemId());
  const std::string message = qal3::xerces::transcoded(exc.getMessage());
  const unsigned long long line = exc.getLineNumber();
  const unsigned long long column = exc.getColumnNumber();
  std::string raw = prefix;
  raw += system_id;
  char at[64];
  std::snprintf(at, sizeof at, ", line %llu, char %llu): ", line, column);
  raw += at;
  raw += message;
  raw += '\n';
  qal3::messages::Position where;
  const char* document = nullptr;
  if (qal3::messages::reading(handler, &document))
    where.document = document;
  else if (system_id != qal3::xerces::kMemoryBufferId)
    where.document = system_id.c_str();
  where.line = static_cast<long long>(line);
  where.column = static_cast<long long>(column);
  qal3::messages::send(qal3::messages::err, static_cast<qal3::messages::Kind>(kind), message.c_str(), message.size(),
                       qal3::messages::flush, raw.data(), raw.size(), where);
}

}  // namespace

void QAL3PullHandler::report(const char* prefix, const xercesc::SAXParseException& exc) {
  const int kind = prefix[1] == 'E'   ? QAL3_MESSAGE_PARSER_ERROR
                   : prefix[1] == 'F' ? QAL3_MESSAGE_PARSER_FATAL
                                      : QAL3_MESSAGE_PARSER_WARNING;
  try {
    report_parse(this, kind, prefix, exc);
  } catch (...) {
    // Out of memory while reporting: the error still counts.
  }
  ++error_count;
}

void QAL3PullHandler::error(const xercesc::SAXParseException& exc) { report("\nError at (file ", exc); }

void QAL3PullHandler::fatalError(const xercesc::SAXParseException& exc) { report("\nFatal Error at (file ", exc); }

void QAL3PullHandler::warning(const xercesc::SAXParseException& exc) { report("\nWarning at (file ", exc); }

namespace {

// The handler of a pull parser over a document in memory: MemParseHandlers
// with each element name narrowed once per document. Its parser has
// namespaces off, so every start tag of one name hands the handler the text
// of that name's decl, which the scanner keeps for the whole document; the
// narrowed name is found again by the address of that text (a direct-mapped
// table, emptied when a document starts). A name longer than a slot holds,
// or not ASCII, is narrowed at each start tag.
class NameCachingHandler final : public MemParseHandlers {
 public:
  void startElement(const XMLCh* name, xercesc::AttributeList& attributes) override {
    finishStep();
    const char* narrowed = cached(name);
    if (!narrowed) {
      MemParseHandlers::startElement(name, attributes);
      return;
    }
    qal3::pull::HandlerAccess::start_element(*this, narrowed, attributes);
  }

  void resetDocument() override {
    for (Slot& s : slots_) s.key = nullptr;
    MemParseHandlers::resetDocument();
  }

 private:
  static constexpr std::size_t kSlots = 32;
  static constexpr std::size_t kNameBytes = 32 - sizeof(const XMLCh*);
  struct Slot {
    const XMLCh* key = nullptr;  // the name's text, or null for an empty slot
    char name[kNameBytes];       // its narrowed form, NUL-terminated
  };

  // The narrowed `name` from its slot, or narrowed into it; null when it
  // does not fit or is not ASCII.
  const char* cached(const XMLCh* name) {
    if (!name) return nullptr;
    // Two slots a name may take, found from the bits of its address that
    // tell a pool's names apart: names that meet in one keep apart.
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(name);
    const std::size_t at = ((address >> 4) ^ (address >> 9)) % kSlots;
    Slot& first = slots_[at];
    if (first.key == name) return first.name;
    Slot& second = slots_[(at + 1) % kSlots];
    if (second.key == name) return second.name;
    Slot& s = first.key && !second.key ? second : first;
    s.key = nullptr;
    XMLCh high = 0;
    for (std::size_t i = 0; i < kNameBytes; ++i) {
      const XMLCh c = name[i];
      s.name[i] = static_cast<char>(c);
      if (c == 0) {
        if (high >= 0x80) return nullptr;
        s.key = name;
        return s.name;
      }
      high |= c;
    }
    return nullptr;
  }

  Slot slots_[kSlots];
};

}  // namespace

MemParseHandlers* qal3::pull::make_memory_handler() { return new NameCachingHandler; }
