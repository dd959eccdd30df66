// Job queue: inline running on one processor, ring capacity and worker
// names, submissions larger than the ring, the waiting thread working too,
// shut-down of sleeping workers and the stack a job may use.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/runtime.h"
#include "tests/runtime/wait_until.h"

namespace {

struct Recorder {
  std::vector<uint32_t> order;
  std::vector<std::thread::id> threads;
  uint32_t badCount = 0;
  uint32_t expectedCount = 0;
};

void RecordInline(void* user, uint32_t index, uint32_t count) {
  Recorder* r = static_cast<Recorder*>(user);
  r->order.push_back(index);
  r->threads.push_back(std::this_thread::get_id());
  if (count != r->expectedCount) ++r->badCount;
}

TEST(JobQueue, OneProcessorRunsJobsInlineInIndexOrder) {
  for (uint32_t threads : {0u, 1u}) {
    JobQueue queue;
    CreateJobQueue(&queue, 1024, threads);
    EXPECT_EQ(queue.workerCount, 0u);
    EXPECT_EQ(queue.capacity, 1024u);
    Recorder r;
    r.expectedCount = 37;
    SubmitJobs(&queue, 37, RecordInline, &r);
    ASSERT_EQ(r.order.size(), 37u) << "all jobs ran before SubmitJobs returned";
    for (uint32_t i = 0; i < 37; ++i) {
      EXPECT_EQ(r.order[i], i);
      EXPECT_EQ(r.threads[i], std::this_thread::get_id());
    }
    EXPECT_EQ(r.badCount, 0u);
    WaitJobs(&queue);
    WaitJobs(&queue);
    SubmitJobs(&queue, 0, RecordInline, &r);
    EXPECT_EQ(r.order.size(), 37u);
    DestroyJobQueue(&queue);
  }
}

// Reference: the smallest power of two not below max(hint, 4, 4 × threads),
// found by counting up.
uint32_t ReferenceCapacity(uint32_t hint, uint32_t threads) {
  uint64_t wanted = hint;
  if (wanted < 4) wanted = 4;
  if (wanted < 4ull * threads) wanted = 4ull * threads;
  for (uint64_t c = 1;; c *= 2)
    if (c >= wanted) return static_cast<uint32_t>(c);
}

TEST(JobQueue, CapacityIsThePowerOfTwoCoveringHintAndThreads) {
  const uint32_t cases[][2] = {{0, 1}, {3, 1}, {4, 1}, {5, 1}, {0, 2}, {9, 2}, {0, 3}, {13, 3},
                               {1000, 2}, {1024, 2}, {1025, 2}, {2048, 3}, {3000, 1}, {7, 0}};
  for (const auto& c : cases) {
    JobQueue queue;
    CreateJobQueue(&queue, c[0], c[1]);
    uint32_t expected = ReferenceCapacity(c[0], c[1]);
    EXPECT_EQ(queue.capacity, expected) << c[0] << "," << c[1];
    EXPECT_EQ(queue.quarter, expected / 4);
    EXPECT_EQ(queue.mask, expected - 1);
    EXPECT_EQ(queue.workerCount, c[1] >= 2 ? c[1] - 1 : 0);
    DestroyJobQueue(&queue);
  }
}

TEST(JobQueue, EightProcessorsGive8192SlotsAndSevenNamedWorkers) {
  JobQueue queue;
  CreateJobQueue(&queue, 8 * 1024, 8);
  EXPECT_EQ(queue.capacity, 8192u);
  EXPECT_EQ(queue.quarter, 2048u);
  ASSERT_EQ(queue.workerCount, 7u);
  for (uint32_t i = 0; i < 7; ++i) {
    char expected[16] = "QvJobConsumer0";
    expected[13] = static_cast<char>('0' + i);
    EXPECT_STREQ(queue.workers[i].name, expected);
    EXPECT_EQ(queue.workers[i].queue, &queue);
    EXPECT_NE(queue.workers[i].thread, nullptr);
  }
  for (uint32_t i = 0; i < queue.capacity; ++i) ASSERT_EQ(queue.ring[i].function, nullptr);
  DestroyJobQueue(&queue);
}

// Jobs that park until the test opens the gate.
struct Gate {
  std::atomic<int> open{0};
  std::atomic<int> parked{0};
};

struct Tally {
  Gate* gate = nullptr;
  uint32_t parkBelow = 0; // indices below this park at the gate
  uint32_t expectedCount = 0;
  std::atomic<uint32_t> runs[512];
  std::atomic<uint32_t> badCount{0};
  std::atomic<std::thread::id> ranOn[512];
  Tally() {
    for (auto& r : runs) r.store(0);
  }
};

void CountJob(void* user, uint32_t index, uint32_t count) {
  Tally* t = static_cast<Tally*>(user);
  if (count != t->expectedCount || index >= count) t->badCount.fetch_add(1);
  if (index < t->parkBelow) {
    t->gate->parked.fetch_add(1);
    while (!t->gate->open.load()) YieldThread();
  }
  t->ranOn[index % 512].store(std::this_thread::get_id());
  t->runs[index % 512].fetch_add(1);
}

TEST(JobQueue, SubmissionBiggerThanTheRingGoesInQuarterChunks) {
  JobQueue queue;
  CreateJobQueue(&queue, 16, 3); // 16 slots, two workers
  ASSERT_EQ(queue.capacity, 16u);
  Gate gate;
  Tally tally;
  tally.gate = &gate;
  tally.parkBelow = 2;
  tally.expectedCount = 102;
  std::thread submitter([&] { SubmitJobs(&queue, 102, CountJob, &tally); });

  // Both workers park in the first two jobs; nobody reads further, so the
  // submitter must stop after filling the ring, in whole quarters.
  ASSERT_TRUE(WaitUntil([&] { return gate.parked.load() == 2 && queue.submitted.load() == 16; }));
  SettleBriefly();
  EXPECT_EQ(queue.submitted.load(), 16u);
  EXPECT_EQ(queue.writeIndex.load(), 16u);
  EXPECT_EQ(queue.freeSlots.count.load(), 0u);

  bool chunksOk = true;
  gate.open.store(1);
  for (;;) {
    uint32_t s = queue.submitted.load();
    if (s % 4 != 0 && s != 102) chunksOk = false;
    if (s == 102) break;
    std::this_thread::yield();
  }
  submitter.join();
  WaitJobs(&queue);
  EXPECT_TRUE(chunksOk);
  EXPECT_EQ(queue.completed.load(), 102u);
  for (uint32_t i = 0; i < 102; ++i) EXPECT_EQ(tally.runs[i].load(), 1u) << i;
  EXPECT_EQ(tally.badCount.load(), 0u);
  DestroyJobQueue(&queue);
}

TEST(JobQueue, WaitingThreadRunsJobsItself) {
  JobQueue queue;
  CreateJobQueue(&queue, 64, 2); // one worker
  Gate gate;
  Tally blocker;
  blocker.gate = &gate;
  blocker.parkBelow = 1;
  blocker.expectedCount = 1;
  SubmitJobs(&queue, 1, CountJob, &blocker);
  ASSERT_TRUE(WaitUntil([&] { return gate.parked.load() == 1; }));

  Tally work;
  work.expectedCount = 50;
  SubmitJobs(&queue, 50, CountJob, &work);
  // The worker is stuck, so only this thread can run the 50 jobs; the gate
  // opens when it has done so, and WaitJobs returns once the worker is done.
  std::thread opener([&] {
    WaitUntil([&] {
      for (uint32_t i = 0; i < 50; ++i)
        if (work.runs[i].load() != 1) return false;
      return true;
    });
    gate.open.store(1);
  });
  WaitJobs(&queue);
  opener.join();
  EXPECT_EQ(blocker.runs[0].load(), 1u);
  EXPECT_EQ(queue.completed.load(), 51u);
  for (uint32_t i = 0; i < 50; ++i) {
    EXPECT_EQ(work.runs[i].load(), 1u);
    EXPECT_EQ(work.ranOn[i].load(), std::this_thread::get_id()) << i;
  }
  DestroyJobQueue(&queue);
}

TEST(JobQueue, WaitJobsTwiceInARow) {
  JobQueue queue;
  CreateJobQueue(&queue, 64, 3);
  WaitJobs(&queue); // nothing ever submitted
  EXPECT_EQ(queue.lastWaited, 0u);
  Tally t;
  t.expectedCount = 40;
  SubmitJobs(&queue, 40, CountJob, &t);
  WaitJobs(&queue);
  EXPECT_EQ(queue.lastWaited, 40u);
  EXPECT_EQ(queue.completed.load(), 40u);
  WaitJobs(&queue);
  EXPECT_EQ(queue.lastWaited, 40u);
  for (uint32_t i = 0; i < 40; ++i) EXPECT_EQ(t.runs[i].load(), 1u);
  SubmitJobs(&queue, 40, CountJob, &t);
  WaitJobs(&queue);
  EXPECT_EQ(queue.lastWaited, 80u);
  for (uint32_t i = 0; i < 40; ++i) EXPECT_EQ(t.runs[i].load(), 2u);
  DestroyJobQueue(&queue);
}

TEST(JobQueue, DestroyEndsSleepingWorkers) {
  JobQueue queue;
  CreateJobQueue(&queue, 64, 4);
  ASSERT_TRUE(WaitUntil([&] { return queue.jobsAvailable.waiters.load() == 3; }));
  DestroyJobQueue(&queue); // hangs (test time-out) if a worker never wakes

  // Straight after creation, and with jobs still queued: those run first.
  for (int round = 0; round < 20; ++round) {
    JobQueue q;
    CreateJobQueue(&q, 16, 3);
    DestroyJobQueue(&q);
  }
  JobQueue busy;
  CreateJobQueue(&busy, 32, 3);
  Tally t;
  t.expectedCount = 300;
  SubmitJobs(&busy, 300, CountJob, &t);
  DestroyJobQueue(&busy);
  for (uint32_t i = 0; i < 300; ++i) EXPECT_EQ(t.runs[i].load(), 1u) << i;
}

void DeepStackJob(void* user, uint32_t index, uint32_t count) {
  volatile unsigned char frame[256 * 1024];
  for (size_t i = 0; i < sizeof(frame); i += 256) frame[i] = 1;
  uint32_t sum = 0;
  for (size_t i = 0; i < sizeof(frame); i += 4096) sum += frame[i];
  static_cast<std::atomic<uint32_t>*>(user)->fetch_add(sum);
}

TEST(JobQueue, JobsMayUseAQuarterMebibyteOfStack) {
  JobQueue queue;
  CreateJobQueue(&queue, 64, 3);
  std::atomic<uint32_t> total{0};
  SubmitJobs(&queue, 200, DeepStackJob, &total);
  WaitJobs(&queue);
  EXPECT_EQ(total.load(), 200u * 64u);
  DestroyJobQueue(&queue);
}

} // namespace
