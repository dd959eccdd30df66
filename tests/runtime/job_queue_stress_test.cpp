// Job queue under load: millions of jobs each run once, concurrent
// submitters lose none, and linked queues share work and stop cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "runtime/runtime.h"

namespace {

constexpr uint32_t kMaxThreads = 16;

// Every (index, count) pair of a round must run exactly once; runs are
// counted per index, and per thread to see that everyone took part.
struct Round {
  std::atomic<uint8_t>* runs;
  uint32_t count;
  std::atomic<uint32_t> badArguments{0};
  std::atomic<uint32_t> threadsSeen{0};
  std::atomic<uint64_t> perThread[kMaxThreads];
  std::atomic<std::thread::id> threadIds[kMaxThreads];
};

thread_local int t_slot = -1;

int ThreadSlot(Round* r) {
  if (t_slot < 0) {
    t_slot = static_cast<int>(r->threadsSeen.fetch_add(1));
    if (t_slot < static_cast<int>(kMaxThreads)) r->threadIds[t_slot].store(std::this_thread::get_id());
  }
  return t_slot;
}

void CountOnce(void* user, uint32_t index, uint32_t count) {
  Round* r = static_cast<Round*>(user);
  if (count != r->count || index >= count) {
    r->badArguments.fetch_add(1);
    return;
  }
  r->runs[index].fetch_add(1, std::memory_order_relaxed);
  int slot = ThreadSlot(r);
  if (slot < static_cast<int>(kMaxThreads)) r->perThread[slot].fetch_add(1, std::memory_order_relaxed);
}

constexpr uint64_t kTotalJobs = 10000000; // about 6 s under TSan

TEST(JobQueueStress, TenMillionJobsEachRunExactlyOnce) {
  JobQueue queue;
  CreateJobQueue(&queue, 4 * 1024, 4); // three workers plus this thread
  ASSERT_EQ(queue.workerCount, 3u);
  const uint32_t q = queue.quarter;
  const uint32_t sizes[] = {1, 2, 3, 17, 63, 64, 65, q - 1, q, q + 1, 3 * q + 5, queue.capacity * 3 + 7, 250000};
  const uint32_t largest = 250000 > queue.capacity * 3 + 7 ? 250000 : queue.capacity * 3 + 7;
  std::unique_ptr<std::atomic<uint8_t>[]> runs(new std::atomic<uint8_t>[largest]);
  for (uint32_t i = 0; i < largest; ++i) runs[i].store(0);

  Round round;
  round.runs = runs.get();
  for (auto& p : round.perThread) p.store(0);
  uint64_t total = 0;
  uint32_t rounds = 0;
  while (total < kTotalJobs) {
    uint32_t count = sizes[rounds % (sizeof(sizes) / sizeof(sizes[0]))];
    round.count = count;
    SubmitJobs(&queue, count, CountOnce, &round);
    WaitJobs(&queue);
    // Check and clear in one pass; a second pass would double the cost.
    uint32_t wrong = 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (runs[i].load(std::memory_order_relaxed) != 1) ++wrong;
      runs[i].store(0, std::memory_order_relaxed);
    }
    ASSERT_EQ(wrong, 0u) << "round " << rounds << " of " << count << " jobs";
    total += count;
    ++rounds;
  }
  EXPECT_EQ(round.badArguments.load(), 0u);
  EXPECT_EQ(queue.completed.load(), static_cast<uint32_t>(total));
  EXPECT_EQ(queue.submitted.load(), static_cast<uint32_t>(total));

  uint64_t sum = 0;
  bool waiterTookPart = false;
  uint32_t seen = round.threadsSeen.load();
  ASSERT_LE(seen, kMaxThreads);
  for (uint32_t i = 0; i < seen; ++i) {
    sum += round.perThread[i].load();
    if (round.threadIds[i].load() == std::this_thread::get_id()) waiterTookPart = round.perThread[i].load() > 0;
  }
  EXPECT_EQ(sum, total);
  EXPECT_EQ(seen, 4u) << "every worker and the waiting thread run jobs";
  EXPECT_TRUE(waiterTookPart);
  DestroyJobQueue(&queue);
}

// Submitters are serialised by the spin lock; several may submit at once.
TEST(JobQueueStress, ConcurrentSubmittersLoseNothing) {
  JobQueue queue;
  CreateJobQueue(&queue, 256, 3);
  constexpr uint32_t kPerSubmitter = 3000;
  constexpr uint32_t kBatches = 20;
  std::unique_ptr<std::atomic<uint8_t>[]> runs(new std::atomic<uint8_t>[4 * kPerSubmitter]);
  for (uint32_t i = 0; i < 4 * kPerSubmitter; ++i) runs[i].store(0);
  struct Part {
    std::atomic<uint8_t>* runs;
  } parts[4];
  std::vector<std::thread> submitters;
  for (uint32_t s = 0; s < 4; ++s) {
    parts[s].runs = runs.get() + s * kPerSubmitter;
    submitters.emplace_back([&, s] {
      for (uint32_t b = 0; b < kBatches; ++b)
        SubmitJobs(&queue, kPerSubmitter, [](void* user, uint32_t index, uint32_t) {
          static_cast<Part*>(user)->runs[index].fetch_add(1);
        }, &parts[s]);
    });
  }
  for (auto& t : submitters) t.join();
  WaitJobs(&queue);
  EXPECT_EQ(queue.completed.load(), 4 * kPerSubmitter * kBatches);
  for (uint32_t i = 0; i < 4 * kPerSubmitter; ++i) ASSERT_EQ(runs[i].load(), kBatches) << i;
  DestroyJobQueue(&queue);
}

// Linked queues: B's only worker is held by one of B's jobs, so B's other
// jobs can only run on A's worker, which A keeps waking. Then both stop: a
// stop marker taken by the wrong queue's worker would hang the destroy.
struct Linked {
  std::atomic<uint32_t> ran{0};
  std::atomic<uint32_t> onHolder{0};
  std::atomic<std::thread::id> holder{};
  uint32_t count = 0;
  std::unique_ptr<std::atomic<uint8_t>[]> runs;
};

TEST(JobQueueStress, LinkedQueuesRunEachOthersJobsAndStopCleanly) {
  for (int trial = 0; trial < 20; trial++) {
    JobQueue a, b;
    CreateJobQueue(&a, 64, 2);
    CreateJobQueue(&b, 64, 2);
    LinkJobQueues(&a, &b);
    Linked linked;
    linked.count = 40; // fits beside the holder in the ring: submitting never waits for slots
    linked.runs.reset(new std::atomic<uint8_t>[linked.count]);
    for (uint32_t i = 0; i < linked.count; i++) linked.runs[i].store(0);
    SubmitJobs(&b, 1, [](void* user, uint32_t, uint32_t) {
      Linked* l = static_cast<Linked*>(user);
      l->holder.store(std::this_thread::get_id());
      while (l->ran.load() < l->count) std::this_thread::yield();
    }, &linked);
    while (linked.holder.load() == std::thread::id()) std::this_thread::yield();
    SubmitJobs(&b, linked.count, [](void* user, uint32_t index, uint32_t) {
      Linked* l = static_cast<Linked*>(user);
      l->runs[index].fetch_add(1);
      if (std::this_thread::get_id() == l->holder.load()) l->onHolder.fetch_add(1);
      l->ran.fetch_add(1);
    }, &linked);
    for (int wake = 0; linked.ran.load() < linked.count && wake < 20000; wake++) {
      SubmitJobs(&a, 1, [](void*, uint32_t, uint32_t) {}, nullptr);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const bool ranElsewhere = linked.ran.load() >= linked.count;
    EXPECT_TRUE(ranElsewhere) << "trial " << trial << ": the held queue's jobs never ran on the other queue's worker";
    if (!ranElsewhere) linked.ran.fetch_add(linked.count); // lets the holder go
    WaitJobs(&b);
    WaitJobs(&a);
    for (uint32_t i = 0; i < linked.count; i++) ASSERT_EQ(linked.runs[i].load(), 1u) << i;
    EXPECT_EQ(linked.onHolder.load(), 0u);
    EXPECT_EQ(b.completed.load(), b.submitted.load());
    UnlinkJobQueues(&a, &b);
    DestroyJobQueue(&a);
    DestroyJobQueue(&b);
    if (!ranElsewhere) break;
  }
}

} // namespace
