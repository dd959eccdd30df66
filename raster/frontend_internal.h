// Front-end pieces shared between its files and its tests.
#pragma once

#include "raster/raster_internal.h"

// Staging room per vertex: 256 vertices of up to 256 bytes fill 64 KiB.
constexpr uint32_t kMaxStagedVertexBytes = 256;

uint32_t VertexSlotStride(const StageDescriptor* vertexStage);
// Cuts the slots past the vertex mark into VertexJobs of 256 and submits them.
void DispatchVertexJobs(GeometryQueue* queue, const InputState* input, const PipelineState* pipeline);
// JobFunction: user is the VertexJob array.
void RunVertexJob(void* user, uint32_t index, uint32_t count);
// Converts count (1..4) components of the given AttributeType at source into
// floats. Returns 0, or 1 (nothing written) for an unknown type or count.
int32_t FetchAttribute(uint32_t type, uint32_t count, const uint8_t* source, float* destination);
// Bytes one component of the type occupies; 0 for an unknown type.
uint32_t AttributeComponentBytes(uint32_t type);
