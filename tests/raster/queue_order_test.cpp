// Bins filled by set-up jobs running side by side hold each job's triangles
// in order but interleave the jobs arbitrarily; the tile stage puts them
// back in queue order so the picture does not depend on thread timing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "raster/raster_internal.h"

namespace {

struct Fixture {
  std::vector<TriangleRecord> records;
  std::vector<BinnedTriangle> triangles;
  std::vector<TileEntry> entries;
  std::vector<TileNode> nodes;
  TileNode sentinel{};

  explicit Fixture(uint32_t n) : records(n), triangles(n), entries(n), nodes(n) {
    for (uint32_t i = 0; i < n; i++) {
      triangles[i].source = &records[i];
      entries[i].triangle = &triangles[i];
      nodes[i].entry = &entries[i];
      nodes[i].order = i;
      nodes[i].key = i % 3; // equal keys keep the restored order when sorted
    }
  }
  // Links the nodes of the given queue indices in that order.
  void Link(const std::vector<uint32_t>& order) {
    TileNode* prev = &sentinel;
    for (uint32_t i : order) {
      prev->next = &nodes[i];
      prev = &nodes[i];
    }
    prev->next = nullptr;
  }
  std::vector<uint32_t> Read() const {
    std::vector<uint32_t> out;
    for (const TileNode* p = sentinel.next; p; p = p->next) out.push_back((uint32_t)(p->entry->triangle->source - records.data()));
    return out;
  }
};

// Interleaves `jobs` ascending runs of a random split of 0..n-1 at random.
std::vector<uint32_t> InterleavedJobs(std::mt19937& rng, uint32_t n, uint32_t jobs) {
  std::vector<std::vector<uint32_t>> runs(jobs);
  for (uint32_t i = 0; i < n; i++) runs[rng() % jobs].push_back(i);
  std::vector<size_t> at(jobs, 0);
  std::vector<uint32_t> order;
  while (order.size() < n) {
    uint32_t j = rng() % jobs;
    if (at[j] < runs[j].size()) order.push_back(runs[j][at[j]++]);
  }
  return order;
}

TEST(QueueOrder, InterleavedJobsComeBackInQueueOrder) {
  std::mt19937 rng(7);
  for (uint32_t n : {0u, 1u, 2u, 3u, 15u, 16u, 17u, 100u, 1000u}) {
    for (uint32_t jobs : {1u, 2u, 3u, 8u}) {
      for (int round = 0; round < 20; round++) {
        Fixture f(n);
        f.Link(InterleavedJobs(rng, n, jobs));
        RestoreQueueOrder(&f.sentinel);
        std::vector<uint32_t> expected(n);
        for (uint32_t i = 0; i < n; i++) expected[i] = i;
        ASSERT_EQ(f.Read(), expected) << n << " nodes, " << jobs << " jobs";
      }
    }
  }
}

TEST(QueueOrder, AnyPermutationIsSorted) {
  std::mt19937 rng(11);
  for (uint32_t n : {2u, 5u, 64u, 513u}) {
    Fixture f(n);
    std::vector<uint32_t> order(n);
    for (uint32_t i = 0; i < n; i++) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    f.Link(order);
    RestoreQueueOrder(&f.sentinel);
    std::vector<uint32_t> got = f.Read();
    ASSERT_EQ(got.size(), n);
    ASSERT_TRUE(std::is_sorted(got.begin(), got.end()));
  }
}

// Sorting by depth after restoring gives the same list whatever the arrival.
TEST(QueueOrder, DepthSortIsDeterministicAfterRestoring) {
  std::mt19937 rng(5);
  const uint32_t n = 300;
  std::vector<uint32_t> first;
  for (int round = 0; round < 10; round++) {
    Fixture f(n);
    f.Link(InterleavedJobs(rng, n, 4));
    RestoreQueueOrder(&f.sentinel);
    ListSort(&f.sentinel, SortOrder::Ascending);
    std::vector<uint32_t> got = f.Read();
    if (round == 0) first = got;
    ASSERT_EQ(got, first);
  }
  // Equal keys (i % 3) keep queue order: within each key the indices rise.
  for (size_t i = 1; i < first.size(); i++) {
    if (first[i] % 3 == first[i - 1] % 3) {
      ASSERT_LT(first[i - 1], first[i]);
    }
  }
}

} // namespace
