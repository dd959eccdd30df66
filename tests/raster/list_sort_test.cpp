// ListSort against std::stable_sort, ascending and descending, for every
// small size (the exchange sort) and long lists with ties (the radix sort).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "raster/raster_internal.h"

namespace {

void CheckListSort(const std::vector<uint32_t>& keys, SortOrder::Value order) {
  std::vector<TileNode> nodes(keys.size() + 1);
  TileNode* sentinel = &nodes[0];
  sentinel->key = 0;
  sentinel->entry = nullptr;
  TileNode* prev = sentinel;
  for (size_t i = 0; i < keys.size(); i++) {
    TileNode* n = &nodes[i + 1];
    n->key = keys[i];
    n->entry = reinterpret_cast<TileEntry*>(i + 1); // identity for stability
    prev->next = n;
    prev = n;
  }
  prev->next = nullptr;
  std::vector<std::pair<uint32_t, uintptr_t>> want;
  for (size_t i = 0; i < keys.size(); i++) want.push_back({keys[i], i + 1});
  if (order == SortOrder::Ascending) std::stable_sort(want.begin(), want.end(), [](auto& a, auto& b) { return a.first < b.first; });
  else std::stable_sort(want.begin(), want.end(), [](auto& a, auto& b) { return a.first > b.first; });
  ListSort(sentinel, order);
  size_t i = 0;
  for (TileNode* p = sentinel->next; p; p = p->next, i++) {
    ASSERT_LT(i, want.size());
    ASSERT_EQ(p->key, want[i].first) << "size " << keys.size() << " at " << i;
    ASSERT_EQ((uintptr_t)p->entry, want[i].second) << "size " << keys.size() << " at " << i;
  }
  ASSERT_EQ(i, want.size());
}

TEST(ListSort, MatchesStableSortForEverySmallSizeAndLargeLists) {
  std::mt19937 rng(11);
  // 0 is no order of the list: it sorts descending like Descending.
  for (SortOrder::Value mode : {SortOrder::Ascending, SortOrder::Descending, SortOrder::Value(0)}) {
    for (size_t n = 0; n <= 40; n++) {
      for (int rep = 0; rep < 30; rep++) {
        std::vector<uint32_t> keys(n);
        uint32_t spread = rep % 3 == 0 ? 4 : (rep % 3 == 1 ? 0xFFFFFFFFu : 300);
        for (auto& k : keys) k = (spread == 0xFFFFFFFFu) ? (uint32_t)rng() : (uint32_t)(rng() % spread) << (rep % 24);
        CheckListSort(keys, mode);
      }
    }
    for (size_t n : {100, 1000, 5000}) {
      std::vector<uint32_t> keys(n);
      for (auto& k : keys) k = (uint32_t)rng() & 0xF0F000FFu; // ties in every byte
      CheckListSort(keys, mode);
    }
    // Already sorted, reversed, all equal.
    std::vector<uint32_t> keys(37);
    for (size_t i = 0; i < keys.size(); i++) keys[i] = (uint32_t)i * 77;
    CheckListSort(keys, mode);
    std::reverse(keys.begin(), keys.end());
    CheckListSort(keys, mode);
    std::fill(keys.begin(), keys.end(), 5u);
    CheckListSort(keys, mode);
  }
}

} // namespace
