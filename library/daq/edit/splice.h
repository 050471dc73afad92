// Minimal changes to a document's bytes: the element of a record in a
// user's document made to read as a writer's new text of the record reads,
// touching only what the writer's old and new texts of the record differ
// in. Comments, layout and the spelling of every untouched value stay.
#ifndef QAL3_EDIT_SPLICE_H
#define QAL3_EDIT_SPLICE_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "check_document.h"

namespace qal3::edit {

// The bytes [from, to) of a document replaced by `text`.
struct Change {
  std::size_t from;
  std::size_t to;
  std::string text;
};

// A document as read for editing: its bytes and their element tree.
struct Source {
  std::string_view bytes;
  check::Node node;
};

// Appends to `out` the changes that make `at` (an element of the user's
// document) read as `now` where it read as `was`; `was` and `now` are the
// same record's element in two texts of one writer. False, with `why`,
// when a change cannot be made in place (a position the tree does not
// know).
bool record_changes(const Source& at, const Source& was, const Source& now, std::vector<Change>& out, std::string& why);

// The changes that remove element `at` with the blanks that lead its line
// and the line end after it, when it stands on lines of its own.
Change removal(const Source& at);

// The change that puts `element` (a writer's element, whole) after the
// element `beside` (or, with `before` set, before it) in the layout of
// `beside`'s line.
Change insertion(const Source& beside, const std::string& element, bool before);

// The line end the document uses: "\r\n" when its first line ends so,
// else "\n".
std::string line_end(std::string_view bytes);

// The text of element `s`, from its start tag to its end tag.
std::string element_text(const Source& s);

// `bytes` with `changes` (in any order) made into `out`; false when two
// changes overlap.
bool applied(std::string_view bytes, std::vector<Change> changes, std::string& out);

}  // namespace qal3::edit

#endif  // QAL3_EDIT_SPLICE_H
