#pragma once
#include <cstdint>
// Resident set of the process in bytes; 0 when unknown.
uint64_t ResidentBytes();
