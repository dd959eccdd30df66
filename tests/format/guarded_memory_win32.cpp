#include <windows.h>

#include "tests/format/guarded_memory.h"

int32_t GuardedAlloc(GuardedBlock* block, uint64_t size, int32_t guardAfter) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  uint64_t page = info.dwPageSize;
  uint64_t body = (size + page - 1) / page * page;
  if (body == 0) body = page;
  uint64_t total = body + 2 * page;
  void* p = VirtualAlloc(nullptr, total, MEM_RESERVE, PAGE_NOACCESS);
  if (!p) return 1;
  uint8_t* base = static_cast<uint8_t*>(p);
  if (!VirtualAlloc(base + page, body, MEM_COMMIT, PAGE_READWRITE)) {
    VirtualFree(p, 0, MEM_RELEASE);
    return 1;
  }
  block->mapping = p;
  block->mappingSize = total;
  block->size = size;
  block->data = guardAfter ? base + page + body - size : base + page;
  return 0;
}

void GuardedFree(GuardedBlock* block) {
  if (block->mapping) VirtualFree(block->mapping, 0, MEM_RELEASE);
  block->mapping = nullptr;
  block->data = nullptr;
}
