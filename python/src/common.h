// Shared pieces of the qal3 extension: conversions between Python values
// and the records' texts and numbers, and the module's exception.
#ifndef QAL3_PY_COMMON_H
#define QAL3_PY_COMMON_H

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qal3py {

namespace py = pybind11;

// The pure Python half of the package (record classes, Error, Warning).
py::module_ records();

// Python text from record text: UTF-8, undecodable bytes kept as surrogates.
py::str to_py(const char* s, std::size_t n);
py::str to_py(const char* s);
py::str to_py(const std::string& s);

// The UTF-8 bytes of a Python str (surrogates back to their bytes); a
// TypeError names `field` for anything else.
std::string text_of(py::handle value, const char* field);

// The bytes of a document given as text: a str is text, so its UTF-8
// encoding is handed on with a declaration that says so (whatever encoding
// the str's own declaration names); bytes (bytes, bytearray, any buffer)
// are handed on as they are, to be decoded by their declaration as a
// file's would be. TypeError for anything else.
std::string document_of(py::handle value);

// A number as the float32 a record field holds; TypeError names `field`
// for anything that is not a number.
float float_of(py::handle value, const char* field);

// Integer attribute checked against [lo, hi]; ValueError names the field.
long long int_in(py::handle value, long long lo, long long hi, const char* field);

// A file system path from str, bytes or os.PathLike.
std::string path_of(py::handle path);

// Bindings of each part.
void bind_documents(py::module_& m);
void bind_replay(py::module_& m);

}  // namespace qal3py

#endif  // QAL3_PY_COMMON_H
