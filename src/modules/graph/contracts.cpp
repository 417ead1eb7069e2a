// Contract constraints (ContractSpec) and data contracts.
#include <string>
#include <string_view>

#include "graph/contract.h"
#include "graph/topics.h"
#include "toolkit/builder.h"

namespace kelo::py {

using namespace kelo_core::graph;
using kelo_core::Result;
namespace data = kelo_core::data;

void add_contract_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<ContractSpec>("PyContractSpec()", "Format-level constraints on a `DataContract`.")
          .init<[] { return ContractSpec(); }>()
          .property<&ContractSpec::pixel_format>("pixel_format",
                                                 "The pixel format constraint, if any.")
          .property<&ContractSpec::width>("width", "The width constraint, if any.")
          .property<&ContractSpec::height>("height", "The height constraint, if any.")
          .property<&ContractSpec::dtype>("dtype", "The dtype constraint, if any.")
          .property<&ContractSpec::shape>("shape", "The shape constraint, if any.")
          .property<[](const ContractSpec& s) -> std::optional<std::string> {
            if (!s.coordinate_space) return std::nullopt;
            return data::coordinate_space_kind_name(*s.coordinate_space);
          }>("coordinate_space",
             "The coordinate-space constraint as a canonical kind name, if any.")
          .property<&ContractSpec::content_type>("content_type",
                                                 "The content-type constraint, if any.")
          .property<&ContractSpec::class_ids>("class_ids", "The class-ID constraint, if any.")
          .def<&with<&ContractSpec::pixel_format>>("with_pixel_format($self, pf)")
          .def<&with<&ContractSpec::width>>("with_width($self, width)")
          .def<&with<&ContractSpec::height>>("with_height($self, height)")
          .def<[](ContractSpec s, std::uint32_t width, std::uint32_t height) {
            return std::move(s).with_width(width).with_height(height);
          }>("with_dimensions($self, width, height)")
          .def<&with<&ContractSpec::dtype>>("with_dtype($self, dtype)")
          .def<&with<&ContractSpec::shape>>("with_shape($self, shape)")
          .def<[](ContractSpec s, std::string_view kind) -> Result<ContractSpec> {
            auto parsed = data::parse_coordinate_space_kind(kind);
            if (!parsed) return parsed.error();
            return std::move(s).with_coordinate_space(*std::move(parsed));
          }>("with_coordinate_space($self, kind)")
          .def<&with<&ContractSpec::content_type>>("with_content_type($self, content_type)")
          .def<&with<&ContractSpec::class_ids>>("with_class_ids($self, class_ids)")
          .def<&ContractSpec::is_compatible_with>("is_compatible_with($self, other)")
          .def<&ContractSpec::summary>("summary($self)")
          .str<&ContractSpec::summary>()
          .repr<[](const ContractSpec& s) { return "PyContractSpec(" + s.summary() + ")"; }>());

  out.push_back(
      Class<DataContract>("PyDataContract", "The semantic data category exchanged through a port.")
          .def_static<[] { return DataContract::frame(); }>("frame()",
                                                            "Unconstrained Frame contract.")
          .def_static<[] { return DataContract::tensor(); }>("tensor()")
          .def_static<[] { return DataContract::metadata(); }>("metadata()")
          .def_static<[] { return DataContract::event(); }>("event()")
          .def_static<[] { return DataContract::batch(); }>("batch()")
          .def_static<&DataContract::custom>("custom(tag)", "Custom contract with a type tag.")
          .def_static<[](const ContractSpec& spec) { return DataContract::frame(spec); }>(
              "frame_with(spec)")
          .def_static<[](const ContractSpec& spec) { return DataContract::tensor(spec); }>(
              "tensor_with(spec)")
          .def_static<&DataContract::metadata_content>("metadata_content(content_type)")
          .def<&DataContract::category_name>("category_name($self)")
          .def<[](const DataContract& c) -> std::optional<ContractSpec> {
            if (const ContractSpec* spec = c.spec()) return *spec;
            return std::nullopt;
          }>("spec($self)")
          .def<&DataContract::is_compatible_with>(
              "is_compatible_with($self, other)",
              "Whether `self` (source side) can feed `other` (target side).")
          .str<&DataContract::str>()
          .repr<[](const DataContract& c) { return "PyDataContract(" + c.str() + ")"; }>());
}

}  // namespace kelo::py
