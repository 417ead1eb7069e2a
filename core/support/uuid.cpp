// UUID text forms and random version-4 UUIDs.
#include "support/uuid.h"

#include "support/text.h"

#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#ifndef MADV_WIPEONFORK
#define MADV_WIPEONFORK 18  // Linux >= 4.14; older kernels reject it with EINVAL
#endif

namespace kelo_core {
namespace {

// ---------------------------------------------------------------------------
// Parsing

// Value of a hexadecimal digit, 0xff for any other byte.
constexpr auto kHexValue = [] {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = 0xff;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<std::uint8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<std::uint8_t>(c - 'A' + 10);
  return t;
}();

// Where the two digits of each byte start in the hyphenated form.
constexpr std::uint8_t kHyphenatedOffset[16] = {0,  2,  4,  6,  9,  11, 14, 16,
                                                19, 21, 24, 26, 28, 30, 32, 34};

// Decodes 16 digit pairs starting at the given offsets; false if any byte
// there is not a hexadecimal digit.
inline bool decode(const char* p, const std::uint8_t (&offset)[16], Uuid* u) {
  unsigned bad = 0;
  for (int i = 0; i < 16; ++i) {
    const unsigned hi = kHexValue[static_cast<unsigned char>(p[offset[i]])];
    const unsigned lo = kHexValue[static_cast<unsigned char>(p[offset[i] + 1])];
    bad |= hi | lo;
    u->bytes[i] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return bad < 16;
}

constexpr std::uint8_t kSimpleOffset[16] = {0,  2,  4,  6,  8,  10, 12, 14,
                                            16, 18, 20, 22, 24, 26, 28, 30};

inline bool parse_simple(const char* p, Uuid* u) { return decode(p, kSimpleOffset, u); }

// Exactly 36 bytes at p.
inline bool parse_hyphenated(const char* p, Uuid* u) {
  if (p[8] != '-' || p[13] != '-' || p[18] != '-' || p[23] != '-') return false;
  return decode(p, kHyphenatedOffset, u);
}

constexpr std::string_view kUrnPrefix = "urn:uuid:";

// Why a text is not a UUID. Called only for rejected input.
//
// A text that starts with "{" and ends with "}", or that starts with
// "urn:uuid:", is judged by what lies inside the wrapper: such a wrapper only
// ever encloses the hyphenated form, so an inner text without hyphens is a
// group-count error rather than a length error, and group lengths are those
// of the inner text. Character positions are byte positions in the whole
// input, so "{...g...}" reports the g where it stands in what was given.
// A byte that does not start a well-formed UTF-8 character is reported as
// U+FFFD (only reachable from C++; text from Python is always valid UTF-8).
std::string invalid_detail(std::string_view whole) {
  const std::size_t n = whole.size();
  if (n == 0 || n > 45) return "invalid length: found " + std::to_string(n);

  std::string_view s = whole;
  std::size_t offset = 0;
  bool wrapped = false;
  if (n >= 2 && s.front() == '{' && s.back() == '}') {
    s = s.substr(1, n - 2);
    offset = 1;
    wrapped = true;
  } else if (s.starts_with(kUrnPrefix)) {
    s.remove_prefix(kUrnPrefix.size());
    offset = kUrnPrefix.size();
    wrapped = true;
  }

  std::size_t hyphens = 0;
  std::size_t hyphen_at[4] = {};
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '-') {
      if (hyphens < 4) hyphen_at[hyphens] = i;
      ++hyphens;
      ++i;
      continue;
    }
    if (kHexValue[c] != 0xff) {
      ++i;
      continue;
    }
    char32_t cp;
    bool valid;
    std::size_t len = text::decode_utf8(s, i, &cp, &valid);
    std::string_view ch = valid ? s.substr(i, len) : std::string_view("\xef\xbf\xbd");
    std::string out = "invalid character: found `";
    out += ch;
    out += "` at ";
    out += std::to_string(i + offset);
    return out;
  }

  if (hyphens == 0 && !wrapped) return "invalid length: found " + std::to_string(n);
  if (hyphens != 4) return "invalid group count: expected 5, found " + std::to_string(hyphens + 1);

  constexpr std::size_t kEnd[4] = {8, 13, 18, 23};       // where each hyphen belongs
  constexpr std::size_t kExpected[5] = {8, 4, 4, 4, 12};  // group lengths
  std::size_t start = 0;
  for (std::size_t g = 0; g < 4; ++g) {
    if (hyphen_at[g] != kEnd[g]) {
      return "invalid group length in group " + std::to_string(g) + ": expected " +
             std::to_string(kExpected[g]) + ", found " + std::to_string(hyphen_at[g] - start);
    }
    start = hyphen_at[g] + 1;
  }
  return "invalid group length in group 4: expected 12, found " + std::to_string(s.size() - start);
}

// Kept out of line so that the accepting path stays small.
[[gnu::noinline, gnu::cold]] Result<Uuid> reject(std::string_view text) {
  return Error::value("invalid UUID: " + invalid_detail(text));
}

// ---------------------------------------------------------------------------
// Text form

constexpr auto kHexPairs = [] {
  std::array<char, 512> t{};
  constexpr char digits[] = "0123456789abcdef";
  for (int i = 0; i < 256; ++i) {
    t[2 * i] = digits[i >> 4];
    t[2 * i + 1] = digits[i & 15];
  }
  return t;
}();

// ---------------------------------------------------------------------------
// Random bytes
//
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
  std::memcpy(out, src, k);
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

namespace {

// Version 4, variant 10, over 16 random bytes.
void stamp_v4(Uuid& u) {
  u.bytes[6] = static_cast<std::uint8_t>((u.bytes[6] & 0x0f) | 0x40);
  u.bytes[8] = static_cast<std::uint8_t>((u.bytes[8] & 0x3f) | 0x80);
}

}  // namespace

Result<Uuid> Uuid::v4() {
  Uuid u;
  std::string error;
  if (!random_bytes(u.bytes.data(), u.bytes.size(), &error))
    return Error::internal("could not retrieve random bytes for uuid: " + error);
  stamp_v4(u);
  return u;
}

Result<std::vector<Uuid>> Uuid::v4_many(std::size_t n) {
  static_assert(sizeof(Uuid) == 16);
  std::vector<Uuid> out(n);
  std::string error;
  if (!random_bytes(out.data(), n * sizeof(Uuid), &error))
    return Error::internal("could not retrieve random bytes for uuid: " + error);
  for (Uuid& u : out) stamp_v4(u);
  return out;
}

Result<Uuid> Uuid::parse(std::string_view text) {
  Uuid u;
  const char* p = text.data();
  bool ok = false;
  switch (text.size()) {
    case 32: ok = parse_simple(p, &u); break;
    case 36: ok = parse_hyphenated(p, &u); break;
    case 38: ok = p[0] == '{' && p[37] == '}' && parse_hyphenated(p + 1, &u); break;
    case 45: ok = text.starts_with(kUrnPrefix) && parse_hyphenated(p + kUrnPrefix.size(), &u); break;
    default: break;
  }
  if (ok) return u;
  return reject(text);
}

void Uuid::write(char* out) const {
  char* o = out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *o++ = '-';
    std::memcpy(o, &kHexPairs[2 * bytes[i]], 2);
    o += 2;
  }
}

std::string Uuid::str() const {
  std::string s(36, '\0');
  write(s.data());
  return s;
}

}  // namespace kelo_core
