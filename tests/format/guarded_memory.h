// Test helper: byte blocks that sit against an inaccessible page, so that a
// read or write one byte past the end (or before the start) faults at once.
#pragma once

#include <cstdint>

struct GuardedBlock {
  uint8_t* data;
  uint64_t size;
  void* mapping;
  uint64_t mappingSize;
};

// guardAfter = 1: the byte after data[size - 1] is inaccessible; 0: the byte
// before data[0] is. Both neighbouring pages are inaccessible either way.
// Returns 0, or 1 when the pages cannot be had.
int32_t GuardedAlloc(GuardedBlock* block, uint64_t size, int32_t guardAfter);
void GuardedFree(GuardedBlock* block);
