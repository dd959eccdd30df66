// Vertex jobs: fetch the stage's inputs into a stack staging buffer, then one
// vertex stage call per run of up to 256 slots.
#include <cstring>

#include "format/format.h"
#include "raster/frontend_internal.h"

uint32_t VertexSlotStride(const StageDescriptor* vertexStage) {
  return vertexStage->outputLayout->totalSize + kVertexSlotHeaderBytes;
}

uint32_t AttributeComponentBytes(uint32_t type) {
  switch (type) {
    case AttributeType::AttrFloat32:
    case AttributeType::AttrSnorm32:
      return 4;
    case AttributeType::AttrFloat16:
    case AttributeType::AttrSnorm16:
      return 2;
    case AttributeType::AttrSnorm8:
      return 1;
    default:
      return 0;
  }
}

int32_t FetchAttribute(uint32_t type, uint32_t count, const uint8_t* s, float* d) {
  if (count < 1 || count > 4) return 1;
  switch (type) {
    case AttributeType::AttrFloat32:
      memcpy(d, s, 4 * count);
      return 0;
    case AttributeType::AttrFloat16:
      for (uint32_t i = 0; i < count; i++) {
        uint16_t h;
        memcpy(&h, s + 2 * i, 2);
        d[i] = HalfToFloat(h);
      }
      return 0;
    case AttributeType::AttrSnorm32:
      for (uint32_t i = 0; i < count; i++) {
        int32_t v;
        memcpy(&v, s + 4 * i, 4);
        d[i] = float(v) * 4.656613e-10f;
      }
      return 0;
    case AttributeType::AttrSnorm16:
      for (uint32_t i = 0; i < count; i++) {
        int16_t v;
        memcpy(&v, s + 2 * i, 2);
        d[i] = float(v) * 3.0518509e-05f;
      }
      return 0;
    case AttributeType::AttrSnorm8:
      for (uint32_t i = 0; i < count; i++) d[i] = float(int8_t(s[i])) * 0.007874016f;
      return 0;
    default:
      return 1;
  }
}

void RunVertexJob(void* user, uint32_t index, uint32_t) {
  const VertexJob* job = static_cast<const VertexJob*>(user) + index;
  const PipelineState* pipeline = job->pipeline;
  const InputState* input = job->input;
  const StageDescriptor* vs = pipeline->vertexStage;
  const StageLayout* in = vs->inputLayout;
  uint32_t stride = VertexSlotStride(vs);
  uint32_t inputStride = in->totalSize;
  uint32_t entries = in->entryCount <= kMaxLayoutEntries ? in->entryCount : kMaxLayoutEntries;

  alignas(16) float staging[kVertexRunLength * kMaxStagedVertexBytes / 4];
  float* vertex = staging;
  for (uint8_t* p = job->first; p < job->end; p += stride) {
    uint32_t vertexIndex = uint32_t(reinterpret_cast<VertexSlot*>(p)->vertexIndex);
    for (uint32_t e = 0; e < entries; e++) {
      const StageLayoutEntry* entry = &in->entries[e];
      float* d = reinterpret_cast<float*>(reinterpret_cast<uint8_t*>(vertex) + entry->offset);
      uint32_t count = entry->count;
      if (count < 1 || count > 4 || entry->offset + 4 * count > inputStride) continue;
      const VertexElement* element = &input->elements[e];
      uint32_t bytes = AttributeComponentBytes(element->type) * count;
      const Binding* stream = element->streamSlot < kMaxVertexStreams ? &input->streams[element->streamSlot] : nullptr;
      uint64_t at = uint64_t(element->offset) + uint64_t(element->stride) * vertexIndex;
      // Unknown types and reads outside the bound stream give zeros rather
      // than stack garbage or a stray read.
      if (bytes == 0 || !stream || !stream->data || stream->size < 0 || at + bytes > uint64_t(stream->size)) {
        memset(d, 0, 4 * count);
        continue;
      }
      FetchAttribute(element->type, count, static_cast<const uint8_t*>(stream->data) + at, d);
    }
    vertex = reinterpret_cast<float*>(reinterpret_cast<uint8_t*>(vertex) + inputStride);
  }
  StageVertexFn(vs)(pipeline->vertexConstants.data, staging, job->first, job->end, stride);
}
