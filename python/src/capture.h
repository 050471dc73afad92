// Keeps the libraries' console messages off the process's standard output:
// while a Capture lives, file descriptors 1 and 2 point at an anonymous
// in-memory file, and finish() hands back what was written there.
#ifndef QAL3_PY_CAPTURE_H
#define QAL3_PY_CAPTURE_H

#include <mutex>
#include <string>

namespace qal3py {

class Capture {
 public:
  // Redirects descriptors 1 and 2. Only one Capture is active at a time in
  // the process: a second one waits for the first to finish.
  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Restores descriptors 1 and 2 and returns the text written meanwhile.
  // Later calls return an empty string.
  std::string finish();

 private:
  void restore();

  std::unique_lock<std::mutex> lock_;
  int sink_ = -1;
  int saved_out_ = -1;
  int saved_err_ = -1;
  bool active_ = false;
};

}  // namespace qal3py

#endif  // QAL3_PY_CAPTURE_H
