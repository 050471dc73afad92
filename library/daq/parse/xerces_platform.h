// The process-wide Xerces platform and the hardening of every parser the
// project builds (the readers' SAX parser and the tool's SAX2 reader:
// hardened_reader.h). Internal to the
// project; the platform is offered to other callers through
// qal3_xml_platform.h.
#ifndef QAL3_XERCES_PLATFORM_H
#define QAL3_XERCES_PLATFORM_H

#include <string>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XercesDefs.hpp>

#include "document_limits.h"

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

// Shared by every parser a binary builds: configured in its constructor,
// which runs once (a function-local static), and only read from then on,
// so that parsers in several threads may use it at once.
inline xercesc::SecurityManager& security_manager() {
  struct Bounded : xercesc::SecurityManager {
    Bounded() { setEntityExpansionLimit(limits::kEntityExpansionLimit); }
  };
  static Bounded manager;
  return manager;
}

// Untrusted documents: nothing is fetched from files or the network, and
// entity expansion is bounded. For every parser the project builds.
template <class Parser>
void harden(Parser& parser) {
  parser.setDisableDefaultEntityResolution(true);
  parser.setLoadExternalDTD(false);
  parser.setSecurityManager(&security_manager());
}

// A Xerces text in the local code page; empty for null or when it cannot
// be converted.
std::string transcoded(const XMLCh* text);

// The system id of the documents the memory parser reads when the calling
// thread has not named them (qal3_set_thread_memory_document).
constexpr char kMemoryBufferId[] = "my_mem_info";

}  // namespace xerces
}  // namespace qal3

#endif  // QAL3_XERCES_PLATFORM_H
