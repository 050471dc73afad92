// Pull parser over a document held in memory.
#include "SAX_Memory_Parser.h"

#include <cstring>
#include <memory>

#include "qal3_messages.h"
#include "reading_scope.h"
#include "sax_pull_common.h"
#include "xerces_platform.h"

namespace {
const char kEmptyDocument[] = "";
}  // namespace

SAX_Memory_Parser::SAX_Memory_Parser(char* xml) {
  try {
    std::unique_ptr<MemParseHandlers> h(qal3::pull::make_memory_handler());
    qal3::pull::PullParser* p = qal3::pull::take_parser(*h);
    if (!p) return;
    try {
      const char* text = xml ? xml : kEmptyDocument;
      const char* named = qal3_get_thread_memory_document();
      // Its streams go on the parser's list (see parser_memory.h).
      memBufIS = new qal3::xml::KeepingSource<xercesc::MemBufInputSource>(
          p->streams(), reinterpret_cast<const XMLByte*>(text), std::strlen(text),
          named ? named : qal3::xerces::kMemoryBufferId, false, xercesc::XMLPlatformUtils::fgMemoryManager);
    } catch (...) {
      qal3::pull::give_back(p, false);
      throw;
    }
    memBufIS->setCopyBufToStream(false);  // the caller keeps the buffer until the parser is gone
    parser = p;
    handler = h.release();
    init = true;
  } catch (...) {
    // Out of memory while building: the parser owns nothing.
  }
}

SAX_Memory_Parser::~SAX_Memory_Parser() {
  if (init) {
    handler->resetTagValue();
    qal3::pull::give_back(static_cast<qal3::pull::PullParser*>(parser), !gotMore && handler->getErrorCount() == 0);
    delete memBufIS;
  }
  qal3::messages::end_reading(static_cast<QAL3PullHandler*>(handler));
  delete handler;
}

bool SAX_Memory_Parser::start() {
  if (!init) return true;
  return qal3::pull::start(*parser, *memBufIS, token, *handler);
}

int SAX_Memory_Parser::parse(char** tag, char** value) {
  if (!init) {
    if (tag) *tag = nullptr;
    if (value) *value = nullptr;
    return -1;
  }
  return qal3::pull::step(*parser, token, gotMore, *handler, tag, value);
}

int SAX_Memory_Parser::parse_element(char** tag, char** value) {
  if (!init) return parse(tag, value);
  return qal3::pull::step_to_element(*parser, token, gotMore, *handler, tag, value);
}

int SAX_Memory_Parser::get_attr(char* name, char** value) {
  if (!init) {
    if (value) *value = nullptr;
    return -1;
  }
  return qal3::pull::get_attr(*handler, name, value);
}
