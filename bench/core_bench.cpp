// Core costs behind the identifier hot paths, each beside a plain baseline.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "support/hash.h"
#include "support/uuid.h"

namespace {

using kelo_core::Uuid;

constexpr const char* kText = "550e8400-e29b-41d4-a716-446655440000";

void BM_UuidParse(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Uuid::parse(kText));
}
BENCHMARK(BM_UuidParse);

void BM_UuidWrite(benchmark::State& state) {
  Uuid u = *Uuid::parse(kText);
  char out[36];
  for (auto _ : state) {
    u.write(out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_UuidWrite);

void BM_UuidV4(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Uuid::v4());
}
BENCHMARK(BM_UuidV4);

void BM_SipHash13_16Bytes(benchmark::State& state) {
  Uuid u = *Uuid::parse(kText);
  for (auto _ : state) {
    benchmark::DoNotOptimize(u);
    benchmark::DoNotOptimize(kelo_core::HashStream().bytes(u.bytes.data(), 16).finish());
  }
}
BENCHMARK(BM_SipHash13_16Bytes);

// Baseline: the cheapest possible look at the same 16 bytes.
void BM_Baseline_Memcmp16(benchmark::State& state) {
  Uuid a = *Uuid::parse(kText), b = a;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(std::memcmp(a.bytes.data(), b.bytes.data(), 16));
  }
}
BENCHMARK(BM_Baseline_Memcmp16);

}  // namespace
