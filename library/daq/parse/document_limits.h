// The limits of every document the libraries read (the pull readers, the
// GigE reader and the tool's check). A document past one ends as a counted
// error whose message names the limit. Plain constants, so that the record
// descriptions and the checks state them without the XML parser's headers.
// Internal to the project, not installed.
#ifndef QAL3_DOCUMENT_LIMITS_H
#define QAL3_DOCUMENT_LIMITS_H

#include <cstddef>

namespace qal3 {
namespace limits {

// Entity expansions allowed per document. The formats read here use no
// entities; the bound stops nested-entity documents early.
constexpr std::size_t kEntityExpansionLimit = 1000;
// Characters of one internal entity's replacement text. Each expansion reads
// one entity's text once (what it references are expansions of their own),
// so a document's entities add at most kEntityExpansionLimit times this many
// characters to it, however they nest.
constexpr std::size_t kMaxEntityUnits = 4096;
// Characters the DTD may add to a document in all: entity expansions, each
// counted as the most text one may add (kMaxEntityUnits), and the attribute
// values elements take from declared defaults.
constexpr std::size_t kMaxAddedUnits = kEntityExpansionLimit * kMaxEntityUnits;
// Characters (UTF-16 units) of one element's text and of one attribute
// value: no reader keeps more, and only entity expansion makes them long.
constexpr std::size_t kMaxTextUnits = std::size_t{1} << 20;
constexpr std::size_t kMaxAttributeUnits = kMaxTextUnits;
// Elements open at once. No format nests more than six levels.
constexpr std::size_t kMaxDepth = 256;
// Characters (UTF-16 units) of one element or attribute name. No format
// has a name of more than 20.
constexpr std::size_t kMaxNameUnits = 1024;
// Characters of one message of the parser; a longer one is cut (names and
// values it quotes may be read before their limits apply).
constexpr std::size_t kMaxMessageUnits = 4 * kMaxNameUnits;
// Distinct element names a document uses that its DTD or schema does not
// declare (every name, in a document with neither). No format uses more
// than a few dozen; the parser keeps each in a table, which for a schema has
// a fixed size where each new name is compared with those before it.
constexpr std::size_t kMaxUndeclaredNames = 1000;

}  // namespace limits
}  // namespace qal3

#endif  // QAL3_DOCUMENT_LIMITS_H
