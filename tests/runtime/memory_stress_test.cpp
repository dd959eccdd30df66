// Global allocation under load: blocks made on one thread and freed on
// another keep their contents.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/runtime.h"

// Blocks handed between threads: freed by another thread than the one that
// took them, each checked for its owner's pattern.
TEST(MemoryStress, BlocksCrossThreadsIntact) {
  constexpr int kThreads = 4;
#if defined(QV_TSAN) || defined(__SANITIZE_ADDRESS__)
  constexpr int kBlocks = 20000;
#else
  constexpr int kBlocks = 200000;
#endif
  std::vector<std::atomic<unsigned char*>> slots(256);
  for (auto& s : slots) s.store(nullptr);
  std::atomic<int> corrupt{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      uint32_t x = 77u + static_cast<uint32_t>(t);
      for (int i = 0; i < kBlocks; ++i) {
        x = x * 1664525u + 1013904223u;
        uint32_t size = 1 + (x >> 20) % 512;
        unsigned char* p = static_cast<unsigned char*>(MemAlloc(size + 4));
        memcpy(p, &size, 4);
        memset(p + 4, static_cast<int>(size & 0xFF), size);
        unsigned char* old = slots[(x >> 8) % slots.size()].exchange(p);
        if (old) {
          uint32_t oldSize;
          memcpy(&oldSize, old, 4);
          for (uint32_t k = 0; k < oldSize; ++k)
            if (old[4 + k] != static_cast<unsigned char>(oldSize & 0xFF)) {
              corrupt.fetch_add(1);
              break;
            }
          MemFree(old);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (auto& s : slots) MemFree(s.load());
  EXPECT_EQ(corrupt.load(), 0);
}
