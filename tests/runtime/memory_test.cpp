// Global allocation: the lazily made lock, the block layout (raw pointer
// before the 4-aligned address), sizes that would wrap, repeated
// initialisation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/runtime.h"

static unsigned char* StoredRaw(void* block) {
  unsigned char* raw;
  memcpy(&raw, static_cast<unsigned char*>(block) - 8, sizeof(raw));
  return raw;
}

// Declared first so it runs before anything else touches the allocation
// lock: threads race to create it lazily.
TEST(MemAlloc, LazyLockSurvivesConcurrentFirstUse) {
  std::atomic<int> ready{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < 8) {
      }
      for (int i = 0; i < 2000; ++i) {
        uint64_t n = static_cast<uint64_t>((i * 37 + t) % 300);
        unsigned char* p = static_cast<unsigned char*>(MemAlloc(n));
        if (!p) {
          failures.fetch_add(1);
          continue;
        }
        memset(p, t, n);
        for (uint64_t k = 0; k < n; ++k)
          if (p[k] != t) failures.fetch_add(1);
        MemFree(p);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(MemAlloc, BlockLayoutFollowsTheRule) {
  for (uint64_t n = 0; n < 200; ++n) {
    unsigned char* p = static_cast<unsigned char*>(MemAlloc(n));
    ASSERT_NE(p, nullptr);
    unsigned char* raw = StoredRaw(p);
    uintptr_t expected = (reinterpret_cast<uintptr_t>(raw) + 11) & ~static_cast<uintptr_t>(3);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p), expected) << n;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4, 0u);
    EXPECT_GE(p - raw, 8);
    EXPECT_LE(p - raw, 11);
    memset(p, 0xA5, n); // the whole request is usable (ASan checks the bounds)
    MemFree(p);
  }
  unsigned char* big = static_cast<unsigned char*>(MemAlloc(3u << 20));
  ASSERT_NE(big, nullptr);
  big[0] = 1;
  big[(3u << 20) - 1] = 2;
  MemFree(big);
}

TEST(MemAlloc, RefusesSizesThatWouldWrap) {
  MemFree(nullptr);
  EXPECT_EQ(MemAlloc(UINT64_MAX), nullptr);
  EXPECT_EQ(MemAlloc(UINT64_MAX - 11), nullptr);
  EXPECT_EQ(MemAlloc(static_cast<uint64_t>(SIZE_MAX) - 5), nullptr);
#if !defined(__SANITIZE_ADDRESS__) && !defined(QV_TSAN)
  // Sanitizer allocators abort on such requests instead of returning null.
  EXPECT_EQ(MemAlloc(1ull << 62), nullptr);
#endif
}

TEST(MemAlloc, InitializeAndFinalizeCanRepeat) {
  MemInitialize();
  MemInitialize();
  void* a = MemAlloc(16);
  ASSERT_NE(a, nullptr);
  MemFree(a);
  MemFinalize();
  MemFinalize();
  void* b = MemAlloc(16); // after the last MemFinalize the lock comes back on demand
  ASSERT_NE(b, nullptr);
  MemFree(b);
  MemInitialize();
}
