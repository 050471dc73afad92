// Shared pieces of the qal3 extension: conversions between Python values
// and the records' texts and numbers, and the module's exception.
#ifndef QAL3_PY_COMMON_H
#define QAL3_PY_COMMON_H

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <typeinfo>
#include <utility>

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

// text_of for a text the libraries take as a C string: ValueError names
// `field` when it holds a NUL (the libraries would read it cut there).
std::string c_text(py::handle value, const char* field);

// ValueError naming `field` when `s` holds a NUL character.
void refuse_nul(const std::string& s, const char* field);

// The bytes of a document given as text: a str is text, so its UTF-8
// encoding is handed on with a declaration that says so (whatever encoding
// the str's own declaration names); bytes (bytes, bytearray, any buffer)
// are handed on as they are, to be decoded by their declaration as a
// file's would be. TypeError for anything else; ValueError naming `field`
// for a document holding a NUL character (UTF-16 bytes: once decoded).
std::string document_of(py::handle value, const char* field = "text");

// A number as the float32 a record field holds; TypeError names `field`
// for anything that is not a number.
float float_of(py::handle value, const char* field);

// Integer attribute checked against [lo, hi]; ValueError names the field.
long long int_in(py::handle value, long long lo, long long hi, const char* field);

// A file system path from str, bytes or os.PathLike; ValueError naming
// `field` when it holds a NUL character.
std::string path_of(py::handle path, const char* field = "path");

// The C++ object of `self`, an instance of the bound class T. TypeError
// when `self` is no T, or when its C++ object was never made: an instance
// made by T.__new__ alone (a crafted pickle) has none until __init__ or
// __setstate__ runs, and its memory must not be read.
template <class T>
T& made(py::handle self) {
  const py::detail::type_info* type = py::detail::get_type_info(typeid(T));
  if (!type || !py::isinstance<T>(self))
    throw py::type_error(std::string("the method needs a ") + (type ? type->type->tp_name : "bound object") + ", not " +
                         std::string(py::str(py::type::of(self).attr("__name__"))));
  auto* inst = reinterpret_cast<py::detail::instance*>(self.ptr());
  const py::detail::value_and_holder v = inst->get_value_and_holder(type, false);
  if (!v.inst || !v.vh || !v.holder_constructed() || !v.value_ptr())
    throw py::type_error(std::string(type->type->tp_name) +
                         " object was never initialised (made by __new__ "
                         "without __init__ or __setstate__)");
  return *v.value_ptr<T>();
}

// `self` of a method of T, taken as it is (made<T> checks it) and shown
// in signatures as T.
template <class T>
struct Self {
  py::handle obj;
};

// The member function `f` of T as a method that refuses an instance
// without its C++ object (see made).
template <class T, class R, class... A>
auto method(R (T::*f)(A...)) {
  return [f](Self<T> self, A... a) -> R { return (made<T>(self.obj).*f)(std::forward<A>(a)...); };
}
template <class T, class R, class... A>
auto method(R (T::*f)(A...) const) {
  return [f](Self<T> self, A... a) -> R { return (made<T>(self.obj).*f)(std::forward<A>(a)...); };
}

// Bindings of each part.
void bind_documents(py::module_& m);
void bind_replay(py::module_& m);
void bind_check(py::module_& m);
void bind_edit(py::module_& m);

}  // namespace qal3py

namespace pybind11 {
namespace detail {
template <class T>
struct type_caster<qal3py::Self<T>> {
  static constexpr auto name = make_caster<T>::name;
  bool load(handle src, bool) {
    value.obj = src;
    return true;
  }
  template <class U>
  using cast_op_type = qal3py::Self<T>;
  operator qal3py::Self<T>() { return value; }
  qal3py::Self<T> value;
};
}  // namespace detail
}  // namespace pybind11

#endif  // QAL3_PY_COMMON_H
