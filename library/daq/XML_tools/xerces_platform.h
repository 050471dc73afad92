// The process-wide Xerces platform and the hardening of every parser the
// libraries build (the pull parsers' SAX parser, the GigE reader's DOM
// parser). Internal to libQAL3XML.
#ifndef QAL3_XERCES_PLATFORM_H
#define QAL3_XERCES_PLATFORM_H

#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XercesDefs.hpp>

#include <memory>
#include <string>

#include "qal3_export.h"

namespace qal3 {
namespace xerces {

// The library's changes of the process-wide Xerces platform count. Xerces
// neither locks the count nor its first set-up and last tear-down, so every
// Initialize and Terminate the library makes goes through these two, under
// one lock: parsers may then be built and destroyed in several threads at
// once, and a thread that has been through initialize_platform sees the
// platform fully set up.
//
// Initialises the Xerces platform; prints the initialisation message and
// returns false when that fails. Either way the caller owes one
// release_platform.
bool initialize_platform();

// As above, with `report` printing the failure (it gets the exception's
// message, or null when there is none, as for a failed allocation). Xerces
// cannot recover from a first Initialize that failed half-way: a later
// Initialize takes the half-built platform for ready and Terminate crashes
// on it. The library then holds that platform for the rest of the process,
// and this and every later call fail without touching it.
bool initialize_platform(void (*report)(const XMLCh* message));

// Gives back one reference taken by initialize_platform (Terminate).
void release_platform();

// The limits of every document the libraries read (the pull readers, the
// GigE reader and the tool's check). A document past one ends as a counted
// error whose message names the limit.
//
// Entity expansions allowed per document. The formats read here use no
// entities; the bound stops nested-entity documents early.
constexpr XMLSize_t kEntityExpansionLimit = 1000;
// Characters of one internal entity's replacement text. Each expansion reads
// one entity's text once (what it references are expansions of their own),
// so a document's entities add at most kEntityExpansionLimit times this many
// characters to it, however they nest.
constexpr XMLSize_t kMaxEntityUnits = 4096;
// Characters (UTF-16 units) of one element's text and of one attribute
// value: no reader keeps more, and only entity expansion makes them long.
constexpr XMLSize_t kMaxTextUnits = XMLSize_t{1} << 20;
constexpr XMLSize_t kMaxAttributeUnits = kMaxTextUnits;
// Elements open at once. No format nests more than six levels.
constexpr XMLSize_t kMaxDepth = 256;

// Shared by every parser: configured in its constructor, which runs once (a
// function-local static), and only read from then on, so that parsers in
// several threads may use it at once.
xercesc::SecurityManager& security_manager();

// Untrusted documents: nothing is fetched from files or the network, and
// entity expansion is bounded. For the SAX and the DOM parser alike.
template <class Parser>
void harden(Parser& parser) {
  parser.setDisableDefaultEntityResolution(true);
  parser.setLoadExternalDTD(false);
  parser.setSecurityManager(&security_manager());
}

// A Xerces text in the local code page; empty for null or when it cannot
// be converted.
std::string transcoded(const XMLCh* text);

// The system id of every document the memory parser reads.
constexpr char kMemoryBufferId[] = "my_mem_info";

}  // namespace xerces
}  // namespace qal3

// For the project's own tool (qal3 check), which builds a validating SAX2
// reader of its own: not part of the library's interface for other callers.
//
// qal3_tool_acquire_xerces takes one reference of the Xerces platform under
// the library's lock (as the readers do); false, with a message on standard
// error, when the platform cannot be set up. Either way the caller owes one
// qal3_tool_release_xerces, made after every reader it built is destroyed.
QAL3_API bool qal3_tool_acquire_xerces();
QAL3_API void qal3_tool_release_xerces();

// A new SAX2 reader, owned by the caller, hardened as the library's readers
// are: nothing is fetched (no external entities, no external DTD), entity
// expansion is bounded in count and in size, attribute values and nesting
// are capped (the limits above). A document past a limit is reported as a
// fatal error to the reader's error handler and ends the parse. Call only
// while holding the platform (qal3_tool_acquire_xerces); throws what Xerces
// throws when memory runs out.
QAL3_API std::unique_ptr<xercesc::SAX2XMLReader> qal3_tool_make_hardened_reader();

#endif  // QAL3_XERCES_PLATFORM_H
