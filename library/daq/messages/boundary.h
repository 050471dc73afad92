// The boundary of the exported functions: no exception leaves the
// libraries. Internal to the libraries.
#ifndef QAL3_BOUNDARY_H
#define QAL3_BOUNDARY_H

namespace qal3 {

// Runs `body` and gives its result. An exception escaping it (inside the
// libraries only allocation can fail; a registered callback may throw
// anything) runs `on_failure` (its report of the failure; what it throws in
// turn is dropped) and gives `failure`, the documented code of the exported
// function that calls this.
template <class R, class Body, class OnFailure>
R guarded(R failure, Body&& body, OnFailure&& on_failure) noexcept {
  try {
    return body();
  } catch (...) {
  }
  try {
    on_failure();
  } catch (...) {
  }
  return failure;
}

template <class R, class Body>
R guarded(R failure, Body&& body) noexcept {
  return guarded(failure, body, [] {});
}

}  // namespace qal3

#endif  // QAL3_BOUNDARY_H
