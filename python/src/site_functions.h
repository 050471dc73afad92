// Python callables as trigger functions of the library's registry, and what
// the trigger loops do so that such a function may run inside them.
#ifndef QAL3_PY_SITE_FUNCTIONS_H
#define QAL3_PY_SITE_FUNCTIONS_H

#include "common.h"

namespace qal3py {

// While one lives, the calling thread evaluates triggers: registering a
// function from Python is refused meanwhile, in every thread. Made and
// destroyed without the GIL (it may wait for a registration to end).
class Evaluating {
 public:
  Evaluating();
  ~Evaluating();
  Evaluating(const Evaluating&) = delete;
  Evaluating& operator=(const Evaluating&) = delete;
};

// True once a Python function called by this thread's loop was interrupted
// (KeyboardInterrupt, SystemExit, any BaseException that is no Exception):
// the loop stops, and raise_interruption raises it. No GIL needed.
bool interrupted();

// With the GIL: raises the interruption of this thread's last loop, if any,
// and forgets it.
void raise_interruption();

// qal3._core.add_function and change_function.
void bind_site_functions(py::module_& m);

}  // namespace qal3py

#endif  // QAL3_PY_SITE_FUNCTIONS_H
