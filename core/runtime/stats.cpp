// The statistics' arithmetic: histogram buckets, percentiles and rates.
#include <bit>
#include <cmath>

#include "runtime/runtime.h"

namespace kelo_core::runtime {

std::size_t Histogram::bucket_of(std::uint64_t ns) {
  constexpr std::uint64_t sub = std::uint64_t{1} << kSubBits;
  if (ns < sub) return static_cast<std::size_t>(ns);
  const unsigned top = 63u - static_cast<unsigned>(std::countl_zero(ns));  // >= kSubBits
  const std::uint64_t mantissa = (ns >> (top - kSubBits)) & (sub - 1);
  return static_cast<std::size_t>(((top - kSubBits + 1) << kSubBits) + mantissa);
}

std::uint64_t Histogram::bucket_top(std::size_t bucket) {
  constexpr std::uint64_t sub = std::uint64_t{1} << kSubBits;
  if (bucket < sub) return bucket;
  const std::size_t group = (bucket >> kSubBits) - 1;  // exponent above kSubBits
  const std::uint64_t mantissa = bucket & (sub - 1);
  const unsigned shift = static_cast<unsigned>(group);
  const std::uint64_t low = (sub + mantissa) << shift;
  return low + ((std::uint64_t{1} << shift) - 1);
}

std::uint64_t Histogram::percentile(double q) const {
  if (count == 0) return 0;
  const double clamped = q < 0 ? 0 : (q > 1 ? 1 : q);
  auto rank = static_cast<std::uint64_t>(std::ceil(clamped * static_cast<double>(count)));
  if (rank == 0) rank = 1;
  std::uint64_t seen = 0;
  for (std::size_t b = 0; b < kBuckets; ++b) {
    seen += counts[b];
    if (seen >= rank) return std::min(bucket_top(b), max_ns);
  }
  return max_ns;
}

namespace {

double per_second(std::uint64_t n, std::int64_t ns) {
  return ns > 0 ? static_cast<double>(n) * 1e9 / static_cast<double>(ns) : 0.0;
}

}  // namespace

double ElementStats::mean_queue() const {
  return queue_samples ? static_cast<double>(queue_length_sum) / static_cast<double>(queue_samples)
                       : 0.0;
}
double ElementStats::in_per_s() const { return per_second(received, elapsed_ns); }
double ElementStats::out_per_s() const { return per_second(emitted, elapsed_ns); }

}  // namespace kelo_core::runtime
