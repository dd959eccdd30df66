// Targets and stage programs shared by the tile-stage tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/raster/coverage_harness.h"

// Fragment stage writing the float its constants point at.
inline PixelRecord** IdFsRun(const void* constants, PixelRecord** first, PixelRecord** end) {
  float id = *static_cast<const float*>(constants);
  for (PixelRecord** it = first; it != end; ++it) (*it)->outputs[0] = id;
  return end;
}

inline const StageDescriptor* IdFs() {
  static const StageLayout in = {0, 0, {}};
  static const StageLayout out = {4, 1, {{0, 1}}};
  static const StageDescriptor d = {reinterpret_cast<StageFunction>(IdFsRun), &in, &out, "IdFs"};
  return &d;
}

// Blend stage adding 1 to the first target value of every pixel it gets.
inline PixelRecord** CountBsRun(const void*, PixelRecord** first, PixelRecord** end) {
  for (PixelRecord** it = first; it != end; ++it) (*it)->target[0] += 1.0f;
  return end;
}

inline const StageDescriptor* CountBs() {
  static const StageLayout layout = {4, 1, {{0, 1}}};
  static const StageDescriptor d = {reinterpret_cast<StageFunction>(CountBsRun), &layout, &layout, "CountBs"};
  return &d;
}

// A scene with an Fp32 depth target and one colour target.
struct TargetScene {
  TestScene scene;
  Surface depth;
  Surface color;
  int32_t width, height;

  TargetScene(uint32_t threads, int32_t w, int32_t h, int32_t colorFormat, uint64_t regionBytes = 16ull << 20)
      : width(w), height(h) {
    SceneInit(&scene, threads, regionBytes);
    SceneViewport(&scene, 0, 0, w, h);
    EXPECT_EQ(CreateSurface(&depth, Fp32, (uint32_t)w, (uint32_t)h), 0);
    EXPECT_EQ(CreateSurface(&color, colorFormat, (uint32_t)w, (uint32_t)h), 0);
    scene.state.depthTarget = &depth;
    scene.state.colorTargets[0] = &color;
    uint32_t floats = formatInfo(colorFormat)->componentCount;
    if (floats < 1 || floats > 4) floats = 4;
    SetLayout(4 * floats, floats);
  }
  ~TargetScene() {
    ReleaseSurface(&depth);
    ReleaseSurface(&color);
    SceneDestroy(&scene);
  }
  void SetLayout(uint32_t bytes, uint32_t floats) {
    RenderTargetLayout& l = scene.state.targetLayout;
    memset(&l, 0, sizeof(l));
    l.totalSize = bytes;
    l.entryCount = 1;
    l.entries[0] = StageLayoutEntry{0, floats};
  }
  void ClearDepth(float z) {
    scene.state.depthClearState = kClearPending;
    memcpy(scene.state.depthClearValue, &z, 4);
  }
  void ClearColor(const void* element, uint32_t bytes) {
    scene.state.colorClearState[0] = kClearPending;
    memcpy(scene.state.colorClearValue[0], element, bytes);
  }
  float DepthAt(int32_t x, int32_t y) const {
    float z;
    depth.LoadElement(&depth, 0, (uint32_t)x, (uint32_t)y, &z);
    return z;
  }
  void ColorAt(int32_t x, int32_t y, void* element) const {
    color.LoadElement(&color, 0, (uint32_t)x, (uint32_t)y, element);
  }
  std::vector<uint8_t> Bytes(const Surface& s) const {
    const uint8_t* p = s.levels[0].start;
    return std::vector<uint8_t>(p, p + (size_t)s.levels[0].pitch * (size_t)height);
  }
};
