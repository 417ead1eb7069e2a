#include "data/identifier.h"
#include "data/topics.h"

namespace kelo::py {

void add_identifier_classes(std::vector<ClassSpec>& out) {
  using namespace kelo_core::data;
  out.push_back(identifier<StreamId>("PyStreamId"));
  out.push_back(identifier<FrameId>("PyFrameId"));
  out.push_back(identifier<BufferId>("PyBufferId"));
  out.push_back(identifier<ObjectId>("PyObjectId"));
  out.push_back(identifier<SegmentId>("PySegmentId"));
  out.push_back(identifier<TrackId>("PyTrackId"));
  out.push_back(identifier<EventId>("PyEventId"));
  out.push_back(identifier<AssetId>("PyAssetId"));
  out.push_back(identifier<BatchId>("PyBatchId"));
  out.push_back(identifier<MetadataId>("PyMetadataId"));
  out.push_back(identifier<ComponentId>("PyComponentId"));
  out.push_back(identifier<ClassId>("PyClassId"));
}

}  // namespace kelo::py
