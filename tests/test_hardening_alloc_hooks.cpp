// The replaced allocation functions of the test_hardening binary (see
// alloc_fault.h) and a check that they are the ones the libraries use.
//
// Xerces allocates through its default memory manager, which calls
// ::operator new; the libraries' records come from operator new or from
// malloc/calloc. The replacements below are found by the dynamic linker
// before those of the C and C++ runtimes, so every allocation of the
// libraries, of Xerces and of the runtimes passes through them.
//
// Outside the address and thread sanitizers the C heap functions are replaced too and
// forwarded to glibc's own entry points; the bytes in use are then tracked
// here (from malloc_usable_size), because glibc's statistics count blocks
// parked in its per-thread caches as in use.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "alloc_fault.h"

#if !defined(QAL3_ALLOC_FAULT_SANITIZER)
#include <malloc.h>
#endif

namespace {

std::atomic<bool> g_armed{false};
std::atomic<std::size_t> g_count{0};
std::atomic<std::size_t> g_fail_at{0};
std::atomic<bool> g_injected{false};
std::atomic<bool> g_persistent{false};
std::atomic<std::size_t> g_bytes{0};

// Adds `n` to the bytes asked for while armed.
void count_bytes(std::size_t n) {
  if (g_armed.load(std::memory_order_relaxed)) g_bytes.fetch_add(n, std::memory_order_relaxed);
}

// True when this allocation is the one to fail.
bool take() {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  const std::size_t n = g_count.fetch_add(1, std::memory_order_relaxed) + 1;
  const std::size_t at = g_fail_at.load(std::memory_order_relaxed);
  if (at == 0 || n < at || (n > at && !g_persistent.load(std::memory_order_relaxed))) return false;
  g_injected.store(true, std::memory_order_relaxed);
  return true;
}

}  // namespace

#if defined(QAL3_ALLOC_FAULT_SANITIZER)

extern "C" std::size_t __sanitizer_get_current_allocated_bytes();

namespace {
void* raw_alloc(std::size_t n) { return std::malloc(n); }
void raw_free(void* p) { std::free(p); }
}  // namespace

std::size_t allocfault::heap_in_use() { return __sanitizer_get_current_allocated_bytes(); }

#else

extern "C" {
void* __libc_malloc(std::size_t) noexcept;
void* __libc_calloc(std::size_t, std::size_t) noexcept;
void* __libc_realloc(void*, std::size_t) noexcept;
void* __libc_memalign(std::size_t, std::size_t) noexcept;
void __libc_free(void*) noexcept;
}

namespace {

std::atomic<std::size_t> g_in_use{0};

void* tracked(void* p) {
  if (p) g_in_use.fetch_add(malloc_usable_size(p), std::memory_order_relaxed);
  return p;
}

void untrack(void* p) {
  if (p) g_in_use.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
}

void* raw_alloc(std::size_t n) { return tracked(__libc_malloc(n)); }

void raw_free(void* p) {
  untrack(p);
  __libc_free(p);
}

void* fail_c() {
  errno = ENOMEM;
  return nullptr;
}

}  // namespace

std::size_t allocfault::heap_in_use() { return g_in_use.load(std::memory_order_relaxed); }

extern "C" void* malloc(std::size_t n) noexcept {
  count_bytes(n);
  return take() ? fail_c() : raw_alloc(n);
}

extern "C" void* calloc(std::size_t n, std::size_t size) noexcept {
  count_bytes(n * size);
  return take() ? fail_c() : tracked(__libc_calloc(n, size));
}

extern "C" void* realloc(void* p, std::size_t n) noexcept {
  count_bytes(n);
  if (take()) return fail_c();
  const std::size_t old = p ? malloc_usable_size(p) : 0;
  void* q = __libc_realloc(p, n);
  if (q || n == 0) {
    g_in_use.fetch_sub(old, std::memory_order_relaxed);
    tracked(q);
  }
  return q;
}

extern "C" void free(void* p) noexcept { raw_free(p); }

extern "C" void* memalign(std::size_t align, std::size_t n) noexcept {
  count_bytes(n);
  return take() ? fail_c() : tracked(__libc_memalign(align, n));
}

extern "C" void* aligned_alloc(std::size_t align, std::size_t n) noexcept {
  count_bytes(n);
  return take() ? fail_c() : tracked(__libc_memalign(align, n));
}

extern "C" int posix_memalign(void** out, std::size_t align, std::size_t n) noexcept {
  if (align < sizeof(void*) || (align & (align - 1)) != 0) return EINVAL;
  count_bytes(n);
  if (take()) return ENOMEM;
  void* p = tracked(__libc_memalign(align, n));
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}

#endif

namespace {

void* fault_alloc(std::size_t n) {
  count_bytes(n);
  if (take()) return nullptr;
  return raw_alloc(n ? n : 1);
}

void* throwing_alloc(std::size_t n) {
  void* p = fault_alloc(n);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t n) { return throwing_alloc(n); }
void* operator new[](std::size_t n) { return throwing_alloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return fault_alloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return fault_alloc(n); }
void operator delete(void* p) noexcept { raw_free(p); }
void operator delete[](void* p) noexcept { raw_free(p); }
void operator delete(void* p, std::size_t) noexcept { raw_free(p); }
void operator delete[](void* p, std::size_t) noexcept { raw_free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { raw_free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { raw_free(p); }

std::size_t allocfault::counted() { return g_count.load(std::memory_order_relaxed); }
std::size_t allocfault::allocated_bytes() { return g_bytes.load(std::memory_order_relaxed); }

bool allocfault::injected() { return g_injected.load(std::memory_order_relaxed); }

void allocfault::arm(std::size_t fail_at, bool persistent) {
  g_persistent.store(persistent, std::memory_order_relaxed);
  g_count.store(0, std::memory_order_relaxed);
  g_bytes.store(0, std::memory_order_relaxed);
  g_injected.store(false, std::memory_order_relaxed);
  g_fail_at.store(fail_at, std::memory_order_relaxed);
  g_armed.store(true, std::memory_order_seq_cst);
}

void allocfault::disarm() { g_armed.store(false, std::memory_order_seq_cst); }

namespace {

// The injector must be in effect, or every sweep would pass without testing
// anything.
TEST(AllocFault, FailsExactlyTheArmedAllocation) {
  // Direct calls: new-expressions may be elided by the compiler.
  void* kept = nullptr;
  bool threw = false;
  {
    allocfault::Armed armed(2);
    kept = ::operator new(4);
    try {
      ::operator delete(::operator new(4));
    } catch (const std::bad_alloc&) {
      threw = true;
    }
  }
  EXPECT_TRUE(threw);
  EXPECT_TRUE(allocfault::injected());
  EXPECT_GE(allocfault::counted(), 2u);  // and the exception's own, from the C heap
  ::operator delete(kept);

  {
    allocfault::Armed armed(1);
    EXPECT_EQ(::operator new[](8, std::nothrow), nullptr);
  }

  const std::size_t before = allocfault::heap_in_use();
  void* block = nullptr;
  {
    allocfault::Armed armed(0);
    block = ::operator new(100);
  }
  EXPECT_GE(allocfault::heap_in_use(), before + 100);
  ::operator delete(block);
  EXPECT_EQ(allocfault::heap_in_use(), before);
}

TEST(AllocFault, FailsTheCHeapOutsideTheSanitizer) {
  if (!allocfault::kCountsCHeap) GTEST_SKIP() << "the sanitizer owns the C allocator";
  void* p = nullptr;
  void* q = nullptr;
  {
    allocfault::Armed armed(2);
    p = std::malloc(16);
    q = std::calloc(1, 16);
  }
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(q, nullptr);
  std::free(p);
}

}  // namespace
