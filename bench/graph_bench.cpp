// Copying ports and elements, and testing contracts, each beside a baseline:
// a port that keeps its ContractSpec inline, as a plain optional field would.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "graph/element.h"

namespace {

using namespace kelo_core::graph;
using kelo_core::data::DType;
using kelo_core::data::PixelFormatVariant;

const ContractSpec kFrames =
    ContractSpec().with_pixel_format(PixelFormatVariant::NV12).with_width(1920).with_height(1080);
const ContractSpec kTensor =
    ContractSpec().with_dtype(DType::Float32).with_shape({1, 3, 640, 640}).with_class_ids({0, 1, 2});

// The baseline: the same fields with the ContractSpec held by value.
struct InlinePort {
  PortId id;
  std::string name;
  PortDirection direction;
  DataContract::Category category;
  std::optional<ContractSpec> spec;
};

Element detector() {
  Element e = Element::make(*ElementId::fresh(), {"kelo.infer.detect"}, "detector",
                            ElementKind::Operator);
  e = std::move(e).with_input(*Port::input("frames", DataContract::frame(kFrames)));
  e = std::move(e).with_input(*Port::input("tensor", DataContract::tensor(kTensor)));
  e = std::move(e).with_output(*Port::output("detections", DataContract::metadata_content("dets")));
  return e;
}

void BM_CopyPort(benchmark::State& state) {
  Port p = *Port::input("tensor", DataContract::tensor(kTensor));
  for (auto _ : state) {
    Port copy = p;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyPort);

void BM_CopyPortInlineSpec(benchmark::State& state) {
  InlinePort p{*PortId::fresh(), "tensor", PortDirection::Input, DataContract::Category::Tensor,
               kTensor};
  for (auto _ : state) {
    InlinePort copy = p;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyPortInlineSpec);

void BM_CopyElementThreePorts(benchmark::State& state) {
  Element e = detector();
  for (auto _ : state) {
    Element copy = e;
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyElementThreePorts);

void BM_ContractCompatible(benchmark::State& state) {
  DataContract out = DataContract::tensor(kTensor);
  DataContract in = DataContract::tensor(kTensor.with_class_ids({2, 1, 0, 3}));
  for (auto _ : state) {
    benchmark::DoNotOptimize(out);
    benchmark::DoNotOptimize(out.is_compatible_with(in));
  }
}
BENCHMARK(BM_ContractCompatible);

void BM_ContractStr(benchmark::State& state) {
  DataContract c = DataContract::frame(kFrames);
  for (auto _ : state) benchmark::DoNotOptimize(c.str());
}
BENCHMARK(BM_ContractStr);

}  // namespace
