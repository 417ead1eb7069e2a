// Points, bounding boxes, polygons and coordinate spaces.
#include <string>

#include "data/geometry.h"
#include "data/topics.h"
#include "support/text.h"
#include "toolkit/builder.h"

namespace kelo::py {

using namespace kelo_core::data;
using kelo_core::text::display;

namespace {

using Ring = std::vector<Point2D>;

template <CoordinateSpaceVariant V>
CoordinateSpace space() {
  return CoordinateSpace::of(V);
}

}  // namespace

void add_geometry_classes(std::vector<ClassSpec>& out) {
  out.push_back(Class<Point2D>("PyPoint2D(x, y)", "A 2D point.")
                    .init<[](float x, float y) { return Point2D{x, y}; }>()
                    .property<&Point2D::x>("x")
                    .property<&Point2D::y>("y")
                    .repr<[](const Point2D& p) {
                      return "PyPoint2D(x=" + display(p.x) + ", y=" + display(p.y) + ")";
                    }>()
                    .equality());

  out.push_back(
      Class<BoundingBox>("PyBoundingBox(x, y, width, height)",
                         "A bounding box with half-open semantics `[x, x+width) \xc3\x97 [y, "
                         "y+height)`.")
          .init<[](float x, float y, float width, float height) {
            return BoundingBox{x, y, width, height};
          }>()
          .property<&BoundingBox::x>("x")
          .property<&BoundingBox::y>("y")
          .property<&BoundingBox::width>("width")
          .property<&BoundingBox::height>("height")
          .property<&BoundingBox::coordinate_space>("coordinate_space")
          .def<&BoundingBox::right>("right($self)", "Exclusive right edge (`x + width`).")
          .def<&BoundingBox::bottom>("bottom($self)", "Exclusive bottom edge (`y + height`).")
          .def<&with<&BoundingBox::coordinate_space>>("with_coordinate_space($self, space)",
                                                      "Set the coordinate space (builder-style).")
          .repr<[](const BoundingBox& b) {
            return "PyBoundingBox(x=" + display(b.x) + ", y=" + display(b.y) +
                   ", width=" + display(b.width) + ", height=" + display(b.height) + ")";
          }>()
          .equality());

  out.push_back(Class<Polygon>("PyPolygon(exterior)",
                               "A polygon with an exterior ring and optional holes.")
                    .init<[](Ring exterior) { return Polygon{std::move(exterior), {}}; }>()
                    .property<&Polygon::exterior>("exterior")
                    .property<&Polygon::holes>("holes")
                    .def<&with<&Polygon::holes>>("with_holes($self, holes)",
                                                 "Add holes (builder-style).")
                    .repr<[](const Polygon& p) {
                      return "PyPolygon(exterior_len=" + std::to_string(p.exterior.size()) + ")";
                    }>());

  out.push_back(
      Class<CoordinateSpace>("PyCoordinateSpace",
                             "An explicitly declared coordinate space (RFC-001 \xc2\xa7"
                             "26).")
          .def_static<&space<CoordinateSpaceVariant::Pixel>>(
              "pixel()", "Top-left origin, x\xe2\x86\x92right, y\xe2\x86\x92"
                         "down, logical frame coordinates.")
          .def_static<&space<CoordinateSpaceVariant::Normalized>>(
              "normalized()", "`x, y \xe2\x88\x88 [0, 1]`, resolution-independent.")
          .def_static<&space<CoordinateSpaceVariant::Sensor>>("sensor()", "Sensor coordinates.")
          .def_static<&space<CoordinateSpaceVariant::World>>("world()", "World coordinates.")
          .def_static<&space<CoordinateSpaceVariant::Roi>>(
              "roi()", "Region-of-interest relative coordinates.")
          .def_static<[](std::string name) {
            return CoordinateSpace::of(CoordinateSpaceKind::custom(std::move(name)));
          }>("custom(name)", "A custom, named coordinate space.")
          .def<[](const CoordinateSpace& s) { return coordinate_space_kind_name(s.kind); }>(
              "kind($self)",
              "Canonical kind name: `pixel`, `normalized`, `sensor`, `world`,\n`roi` or "
              "`custom:<name>`.")
          .repr<[](const CoordinateSpace& s) {
            return "PyCoordinateSpace(" + coordinate_space_kind_name(s.kind) + ")";
          }>()
          .equality());
}

}  // namespace kelo::py
