// Test hooks of the rasterizer: switches that let a test compare a shortcut
// with the path it stands in for. Nothing but tests calls them.
#pragma once

#include <cstdint>

// Test hook: 0 disables the whole-tile shortcuts (tile-level depth decision,
// empty-edge-list coverage, full-tile depth write) so they can be compared
// with the per-pixel path. Set only while no tile pass runs.
void SetTileFastPathsForTest(int32_t enabled);
// Text path group width: 4 forces the four-lane drawing, 0 (the default)
// takes the widest the processor runs; TextLanesAvailable says which that is.
void SetTextLanesForTest(uint32_t lanes);
int32_t TextLanesAvailable();
