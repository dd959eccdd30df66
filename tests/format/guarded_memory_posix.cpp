#include <sys/mman.h>
#include <unistd.h>

#include "tests/format/guarded_memory.h"

int32_t GuardedAlloc(GuardedBlock* block, uint64_t size, int32_t guardAfter) {
  uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  uint64_t body = (size + page - 1) / page * page;
  if (body == 0) body = page;
  uint64_t total = body + 2 * page;
  void* p = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return 1;
  uint8_t* base = static_cast<uint8_t*>(p);
  if (mprotect(base + page, body, PROT_READ | PROT_WRITE) != 0) {
    munmap(p, total);
    return 1;
  }
  block->mapping = p;
  block->mappingSize = total;
  block->size = size;
  block->data = guardAfter ? base + page + body - size : base + page;
  return 0;
}

void GuardedFree(GuardedBlock* block) {
  if (block->mapping) munmap(block->mapping, block->mappingSize);
  block->mapping = nullptr;
  block->data = nullptr;
}
