// A SAX2 reader hardened as the libraries' own parsers are, for the tool's
// validating check: it stops where the readers stop. Internal to the
// project; compiled into the binary that uses it (the QAL3::internal
// target), never exported.
#ifndef QAL3_HARDENED_READER_H
#define QAL3_HARDENED_READER_H

#include <memory>
#include <xercesc/sax2/SAX2XMLReader.hpp>

namespace qal3 {
namespace xerces {

// A new SAX2 reader, owned by the caller: nothing is fetched (no external
// entities, no external DTD), entity expansion is bounded in count and in
// size, attribute values, element text and nesting are capped
// (document_limits.h). A document past a limit is reported as a fatal
// error to the reader's error handler and ends the parse. Call only while
// holding the platform (qal3_xml_platform_acquire); throws what Xerces
// throws when memory runs out.
std::unique_ptr<xercesc::SAX2XMLReader> make_hardened_reader();

}  // namespace xerces
}  // namespace qal3

#endif  // QAL3_HARDENED_READER_H
