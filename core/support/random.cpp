#include "support/random.h"

#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#ifndef MADV_WIPEONFORK
#define MADV_WIPEONFORK 18  // Linux >= 4.14; older kernels reject it with EINVAL
#endif

namespace kelo_core {

// Each thread keeps a block of random bytes drawn with getrandom(2) and hands
// them out in order, zeroing each byte once it is handed out. After fork()
// the child must not hand out bytes the parent still holds (both processes
// would then mint the same identifiers). Two independent guards ensure it:
//  - the block lives in its own anonymous mapping marked MADV_WIPEONFORK, so
//    the kernel gives the child a zeroed page, which reads as an empty block;
//    this also covers children made by a raw clone() that runs no handlers;
//  - a pthread_atfork child handler bumps a process-wide generation, and a
//    block filled under another generation counts as empty; this covers
//    kernels without MADV_WIPEONFORK (before 4.14).
// The block is per thread (thread_local), so concurrent C++ callers never
// share bytes and need no lock; it is unmapped when its thread exits.

namespace {

struct Pool {
  std::uint32_t avail;       // unread bytes, at the end of data; 0 after a wipe
  std::uint32_t generation;  // g_fork_generation when data was drawn
  std::uint64_t reserved;
  unsigned char data[4096 - 16];
};
static_assert(sizeof(Pool) == 4096);

std::atomic<std::uint32_t> g_fork_generation{0};

void on_fork_child() { g_fork_generation.fetch_add(1, std::memory_order_relaxed); }

struct PoolHolder {
  Pool* pool = nullptr;
  std::size_t mapped = 0;
  bool failed = false;  // no mapping could be made: draw unbuffered
  ~PoolHolder() {
    if (pool) munmap(pool, mapped);
  }
};

thread_local PoolHolder t_pool;

// The error text of errno value e, whichever strerror_r the C library has.
[[maybe_unused]] inline const char* strerror_pick(int, const char* buf) { return buf; }
[[maybe_unused]] inline const char* strerror_pick(const char* r, const char*) { return r; }
std::string errno_text(int e) {
  char buf[256] = {};
  return strerror_pick(strerror_r(e, buf, sizeof buf), buf);
}

bool os_random(void* out, std::size_t n, std::string* error) {
  auto p = static_cast<unsigned char*>(out);
  while (n > 0) {
    ssize_t r = getrandom(p, n, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (error) *error = errno_text(errno);
      return false;
    }
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

Pool* pool_for_thread() {
  if (t_pool.pool || t_pool.failed) return t_pool.pool;
  // Registered before any byte is ever buffered, once per process.
  static const bool registered = pthread_atfork(nullptr, nullptr, &on_fork_child) == 0;
  (void)registered;
  long page = sysconf(_SC_PAGESIZE);
  std::size_t len = sizeof(Pool);
  if (page > 0) len = (len + static_cast<std::size_t>(page) - 1) / static_cast<std::size_t>(page) *
                      static_cast<std::size_t>(page);
  void* m = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) {
    t_pool.failed = true;
    return nullptr;
  }
  (void)madvise(m, len, MADV_WIPEONFORK);  // best effort: the generation still guards
  t_pool.pool = static_cast<Pool*>(m);
  t_pool.mapped = len;
  t_pool.pool->avail = 0;
  return t_pool.pool;
}

// Hands out up to n buffered bytes; returns how many.
inline std::size_t take(Pool* pool, unsigned char* out, std::size_t n) {
  std::size_t k = pool->avail < n ? pool->avail : n;
  unsigned char* src = pool->data + sizeof(pool->data) - pool->avail;
  std::copy_n(src, k, out);  // not memcpy: out is null when k is 0
  std::memset(src, 0, k);
  pool->avail -= static_cast<std::uint32_t>(k);
  return k;
}

}  // namespace

bool random_bytes(void* out, std::size_t n, std::string* error) {
  auto p = static_cast<unsigned char*>(out);
  Pool* pool = t_pool.pool;
  const std::uint32_t generation = g_fork_generation.load(std::memory_order_relaxed);
  if (pool && pool->avail >= n && pool->generation == generation) {  // the usual case
    take(pool, p, n);
    return true;
  }
  pool = pool_for_thread();
  if (!pool || n >= sizeof(pool->data)) return os_random(p, n, error);
  if (pool->generation != generation) pool->avail = 0;  // drawn before a fork
  std::size_t k = take(pool, p, n);
  p += k;
  n -= k;
  if (n == 0) return true;
  if (!os_random(pool->data, sizeof(pool->data), error)) return false;
  pool->generation = generation;
  pool->avail = sizeof(pool->data);
  take(pool, p, n);
  return true;
}

}  // namespace kelo_core
