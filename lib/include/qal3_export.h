/// \file
/// Export marker of the QAL3 shared libraries. They are built with hidden
/// visibility; only declarations marked QAL3_API belong to their interface.
#ifndef QAL3_EXPORT_H
#define QAL3_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define QAL3_API __attribute__((visibility("default")))
#else
#define QAL3_API
#endif

#endif  // QAL3_EXPORT_H
