// Memory and input streams of one Xerces parser object. Not installed.
//
// When an allocation fails inside a Xerces parser (during its construction
// or in the middle of a document), Xerces throws OutOfMemoryException and
// leaves what it had allocated as it stands: its constructors do not clean
// up after that exception, and the scanner drops half-built objects. Giving
// each parser a memory manager of its own that keeps every block it hands
// out, and releasing what is still held once the parser is gone, returns
// those blocks. On the ordinary path Xerces releases everything itself and
// nothing is left to collect.
//
// Input streams need more than their memory back: a file stream holds an
// open file. Xerces drops the stream of a document, without deleting it,
// when an allocation fails while it builds its reader over it. Streams made
// through a KeepingSource are kept on the parser's list and the ones still
// there when the parser is gone are deleted.
#ifndef QAL3_PARSER_MEMORY_H
#define QAL3_PARSER_MEMORY_H

#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/Janitor.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLURL.hpp>

namespace qal3 {
namespace xml {

// A Xerces memory manager that keeps its blocks on a list, counts the bytes
// it hands out and those it holds (as the C heap sizes its blocks: every
// operator new here is malloc), and releases the blocks still held when it
// is destroyed.
class ParserMemory final : public xercesc::MemoryManager {
 public:
  ParserMemory() = default;
  ParserMemory(const ParserMemory&) = delete;
  ParserMemory& operator=(const ParserMemory&) = delete;
  ~ParserMemory() override {
    while (head_.next != &head_) {
      Block* b = head_.next;
      unlink(b);
      ::operator delete(b);
    }
  }

  // Exceptions may outlive the parser that threw them.
  xercesc::MemoryManager* getExceptionMemoryManager() override { return xercesc::XMLPlatformUtils::fgMemoryManager; }

  void* allocate(XMLSize_t size) override {
    if (size > SIZE_MAX - kHeader) throw xercesc::OutOfMemoryException();
    void* raw = ::operator new(kHeader + size, std::nothrow);
    if (!raw) throw xercesc::OutOfMemoryException();
    Block* b = static_cast<Block*>(raw);
    handed_out_ += size;
    held_ += malloc_usable_size(raw);
    b->prev = &head_;
    b->next = head_.next;
    head_.next->prev = b;
    head_.next = b;
    return static_cast<char*>(raw) + kHeader;
  }

  void deallocate(void* p) override {
    if (!p) return;
    Block* b = reinterpret_cast<Block*>(static_cast<char*>(p) - kHeader);
    held_ -= malloc_usable_size(b);
    unlink(b);
    ::operator delete(b);
  }

  // Bytes handed out and not yet given back (as the C heap counts them).
  std::size_t held() const { return held_; }

  // Bytes handed out since the last call (or since the manager was built).
  std::size_t take_handed_out() {
    const std::size_t n = handed_out_;
    handed_out_ = 0;
    return n;
  }

 private:
  // The list links in front of each block, padded so that the block keeps
  // the alignment of operator new.
  struct Block {
    Block* prev;
    Block* next;
  };
  static constexpr std::size_t kHeader =
      (sizeof(Block) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);

  static void unlink(Block* b) {
    b->prev->next = b->next;
    b->next->prev = b->prev;
  }

  Block head_{&head_, &head_};
  std::size_t held_ = 0;
  std::size_t handed_out_ = 0;
};

class KeptStream;

// The streams made for one parser and not yet deleted; those left when the
// list is destroyed (after the parser) were dropped by Xerces.
class KeptStreams {
 public:
  KeptStreams() = default;
  KeptStreams(const KeptStreams&) = delete;
  KeptStreams& operator=(const KeptStreams&) = delete;
  inline ~KeptStreams();

 private:
  friend class KeptStream;
  KeptStream* head_ = nullptr;
};

// A stream on a KeptStreams list, over the stream a source made.
class KeptStream final : public xercesc::BinInputStream {
 public:
  KeptStream(xercesc::BinInputStream* inner, KeptStreams& list) : inner_(inner), list_(list) {
    next_ = list_.head_;
    if (next_) next_->prev_ = this;
    list_.head_ = this;
  }
  KeptStream(const KeptStream&) = delete;
  KeptStream& operator=(const KeptStream&) = delete;
  ~KeptStream() override {
    if (prev_)
      prev_->next_ = next_;
    else
      list_.head_ = next_;
    if (next_) next_->prev_ = prev_;
    delete inner_;
  }

  XMLFilePos curPos() const override { return inner_->curPos(); }
  XMLSize_t readBytes(XMLByte* const to_fill, const XMLSize_t max_to_read) override {
    return inner_->readBytes(to_fill, max_to_read);
  }
  const XMLCh* getContentType() const override { return inner_->getContentType(); }
  const XMLCh* getEncoding() const override { return inner_->getEncoding(); }

 private:
  xercesc::BinInputStream* inner_;
  KeptStreams& list_;
  KeptStream* prev_ = nullptr;
  KeptStream* next_ = nullptr;
};

KeptStreams::~KeptStreams() {
  while (head_) delete head_;
}

// An input source of type Source whose streams go on `list`.
template <class Source>
class KeepingSource final : public Source {
 public:
  template <class... Args>
  explicit KeepingSource(KeptStreams& list, Args&&... args) : Source(std::forward<Args>(args)...), list_(list) {}

  xercesc::BinInputStream* makeStream() const override {
    xercesc::BinInputStream* inner = Source::makeStream();
    if (!inner) return nullptr;
    try {
      return new (this->getMemoryManager()) KeptStream(inner, list_);
    } catch (...) {
      delete inner;
      throw;
    }
  }

 private:
  KeptStreams& list_;
};

struct ParserMemoryOwner {
  ParserMemory parser_memory;
  KeptStreams kept_streams;  // destroyed first: its streams may use the memory
};

// A Xerces SAXParser (or a class derived from it) built over a ParserMemory
// and a KeptStreams list of its own. Both are a base constructed before the
// parser and destroyed after it, also when the parser's constructor throws.
template <class Parser>
class ParserWithOwnMemory : private ParserMemoryOwner, public Parser {
 public:
  ParserWithOwnMemory() : Parser(nullptr, &parser_memory, nullptr) {}

  KeptStreams& streams() { return kept_streams; }
  xercesc::MemoryManager* memory() { return &parser_memory; }
  // Bytes the parser holds in its memory.
  std::size_t held_bytes() const { return parser_memory.held(); }
  // Bytes the parser took from its memory since the last call (or since
  // it was built).
  std::size_t take_handed_out() { return parser_memory.take_handed_out(); }
  // Where the scanner is in the document being read (its locator).
  const xercesc::Locator* locator() const { return this->getScanner().getLocator(); }
};

// Calls parse(source) with a KeepingSource over the local file `path`, the
// source Xerces itself makes for a path that is no URL (its system id the
// full path), in the parser's memory. A file: URL, or a path that Xerces
// will refuse with its own error message, goes to fallback() instead, for
// Xerces to open as it does. Any other URL (http:, ftp:, ...) is refused
// with a MalformedURLException: the readers never fetch from the network.
template <class Parser, class Parse, class Fallback>
auto with_file_source(ParserWithOwnMemory<Parser>& parser, const char* path, Parse&& parse, Fallback&& fallback) {
  xercesc::MemoryManager* const mm = parser.memory();
  XMLCh* wide = xercesc::XMLString::transcode(path, mm);
  xercesc::ArrayJanitor<XMLCh> release(wide, mm);
  xercesc::XMLURL url(mm);
  if (!wide) return fallback();
  if (xercesc::XMLURL::parse(wide, url) && !url.isRelative()) {
    if (url.getProtocol() != xercesc::XMLURL::File)
      throw xercesc::MalformedURLException(__FILE__, __LINE__, xercesc::XMLExcepts::URL_UnsupportedProto1,
                                           url.getProtocolName());
    return fallback();
  }
  KeepingSource<xercesc::LocalFileInputSource>* source = nullptr;
  try {
    source = new (mm) KeepingSource<xercesc::LocalFileInputSource>(parser.streams(), wide, mm);
  } catch (const xercesc::XMLException&) {
    return fallback();
  }
  xercesc::Janitor<xercesc::InputSource> drop(source);
  return parse(static_cast<const xercesc::InputSource&>(*source));
}

}  // namespace xml
}  // namespace qal3

#endif  // QAL3_PARSER_MEMORY_H
