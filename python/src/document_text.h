// Documents given to the module as text: the declaration of a str's
// document. Plain C++ without Python, so that the fuzz targets run this
// very code.
#ifndef QAL3_PY_DOCUMENT_TEXT_H
#define QAL3_PY_DOCUMENT_TEXT_H

#include <string>

namespace qal3py {

// Makes the XML declaration at the start of `doc` (after a byte order
// mark, if any) name UTF-8 as its encoding, for a document that is known to
// be UTF-8 whatever it declares (the text of a Python str). A longer name
// is replaced by "UTF-8" and blanks, so that every position after it stays
// where it was. A document without a declaration, or whose declaration
// names no encoding, is left as it is (UTF-8 is then the default).
void declare_utf8(std::string& doc);

}  // namespace qal3py

#endif  // QAL3_PY_DOCUMENT_TEXT_H
