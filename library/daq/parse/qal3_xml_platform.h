/// \file
/// The process-wide XML parser platform the QAL3 libraries read with, for
/// programs that also build parsers of their own beside the libraries.
///
/// The parser library counts its platform's set-ups and tear-downs but does
/// not lock the count. The QAL3 libraries make every set-up and tear-down
/// under one lock; a program that builds parsers itself, in any thread,
/// takes and gives back the platform through these two calls, so that its
/// changes and the libraries' are made under the same lock. A program that
/// only calls the QAL3 libraries needs neither.
///
/// The parser a thread keeps between documents can be given back early.
///
/// Usable from C and C++.
#ifndef QAL3_XML_PLATFORM_H
#define QAL3_XML_PLATFORM_H

#include "qal3_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Takes one reference of the platform, setting it up when it is not.
/// Returns 1 when the platform is ready; 0 when it cannot be set up, after
/// the line "Error during initialization! Message: ..." has gone the
/// libraries' message path (qal3_messages.h). Either way the caller owes
/// one qal3_xml_platform_release, made after every parser it built with
/// the platform is destroyed.
QAL3_API int qal3_xml_platform_acquire(void);

/// Gives back one reference taken by qal3_xml_platform_acquire.
QAL3_API void qal3_xml_platform_release(void);

/// Destroys the parser the calling thread keeps between documents, if it
/// keeps one. Each thread that reads keeps the parser of its last document
/// read without error, holding at most 256 KiB (50 to 80 KiB after a usual
/// document), until the thread ends; a thread that reads seldom may give it
/// back here. The thread's next read builds a new parser. Never fails.
QAL3_API void qal3_xml_drop_thread_parser(void);

#ifdef __cplusplus
}
#endif

#endif  // QAL3_XML_PLATFORM_H
