// Allocation fault injection for the test_hardening binary: the binary
// replaces the global operator new/new[] (all forms) and, outside the
// address and thread sanitizers, malloc and calloc, with versions that count
// the allocations made while injection is armed and fail the Nth one
// (std::bad_alloc, a null pointer for the nothrow forms and the C
// functions), or the Nth and every later one.
#ifndef QAL3_ALLOC_FAULT_H
#define QAL3_ALLOC_FAULT_H

#include <cstddef>

// Under the address or the thread sanitizer the sanitizer owns the C heap.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QAL3_ALLOC_FAULT_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QAL3_ALLOC_FAULT_SANITIZER 1
#endif
#endif

namespace allocfault {

// Whether malloc and calloc are counted and failed too (not under a
// sanitizer that owns the C allocator).
constexpr bool kCountsCHeap =
#if defined(QAL3_ALLOC_FAULT_SANITIZER)
    false;
#else
    true;
#endif

// Allocations counted since the last arm().
std::size_t counted();
// Bytes those allocations asked for (operator new always; malloc, calloc,
// realloc and the aligned forms where kCountsCHeap): the cost of a call in
// memory, whether or not the blocks were freed again.
std::size_t allocated_bytes();
// Whether the armed allocation has been failed since the last arm().
bool injected();
// Starts counting; the allocation number `fail_at` (1-based) fails, and
// with `persistent` every later one too. 0: none fails.
void arm(std::size_t fail_at, bool persistent = false);
// Stops counting and failing.
void disarm();
// Bytes in use on the heap (the sanitizer's count under one, else malloc's
// own), for leak checks around a call.
std::size_t heap_in_use();

// Arms for the lifetime of the object.
class Armed {
 public:
  explicit Armed(std::size_t fail_at, bool persistent = false) { arm(fail_at, persistent); }
  ~Armed() { disarm(); }
  Armed(const Armed&) = delete;
  Armed& operator=(const Armed&) = delete;
};

}  // namespace allocfault

#endif  // QAL3_ALLOC_FAULT_H
