// The job queue: a ring of job slots filled by serialised submitters and
// read by any number of consumers through a ticket that counts positions
// within the current quarter of the ring. Slots go back to submitters a
// quarter at a time, once every reader of that quarter has copied its slot.
#include <cstring>

#include "runtime/runtime.h"
#include "runtime/spin.h"

static constexpr uint32_t kPositionMask = 0x3FFFFFFFu;
// The ticket's position field must hold quarter + every concurrent reader.
static constexpr uint32_t kMaxCapacity = 1u << 28;

static Job TakeJob(JobQueue* queue) {
  uint32_t quarter = queue->quarter;
  uint32_t t = queue->readTicket.fetch_add(1);
  uint32_t p = t & kPositionMask;
  uint32_t q = t >> 30;
  while (p >= quarter) {
    uint32_t spins = 0;
    if (p == quarter) {
      // This reader closes the quarter.
      while (queue->readsDone.load() != quarter) SpinBackOff(&spins);
      queue->readsDone.store(0);
      queue->readTicket.store((q + 1) << 30);
      Semaphore32Release(&queue->freeSlots, quarter);
    } else {
      while ((queue->readTicket.load() & kPositionMask) > quarter) SpinBackOff(&spins);
    }
    t = queue->readTicket.fetch_add(1);
    p = t & kPositionMask;
    q = t >> 30;
  }
  Job job = queue->ring[(p + quarter * q) & queue->mask];
  queue->readsDone.fetch_add(1);
  return job;
}

// Jobs come in bursts a few microseconds apart (the stages of one flush
// follow each other), and waking a sleeping consumer costs tens of
// microseconds: look for the next job for a moment before sleeping, giving
// the processor away meanwhile to any thread that has work.
static constexpr uint32_t kConsumerPolls = 300;

// One job of the linked queue, if it has one waiting. visiting tells
// UnlinkJobQueues when no worker of this queue can still reach the other.
static int32_t RunPartnerJob(JobQueue* queue) {
  if (!queue->partner.load(std::memory_order_relaxed)) return 0;
  int32_t ran = 0;
  queue->visiting.fetch_add(1);
  JobQueue* partner = queue->partner.load();
  if (partner && Semaphore32TryAcquire(&partner->jobsAvailable, 1) == 0) {
    // Stop markers are only queued once the link is gone: this is a job.
    Job job = TakeJob(partner);
    job.function(job.user, job.index, job.count);
    partner->completed.fetch_add(1);
    ran = 1;
  }
  queue->visiting.fetch_sub(1);
  return ran;
}

void LinkJobQueues(JobQueue* a, JobQueue* b) {
  a->partner.store(b);
  b->partner.store(a);
}

void UnlinkJobQueues(JobQueue* a, JobQueue* b) {
  a->partner.store(nullptr);
  b->partner.store(nullptr);
  uint32_t spins = 0;
  while (a->visiting.load() != 0 || b->visiting.load() != 0) SpinBackOff(&spins);
}

int64_t JobConsumerMain(void* workerRecord) {
  JobWorker* worker = static_cast<JobWorker*>(workerRecord);
  JobQueue* queue = worker->queue;
  for (;;) {
    uint32_t polls = 0, spins = 0;
    while (Semaphore32TryAcquire(&queue->jobsAvailable, 1) != 0) {
      if (RunPartnerJob(queue)) {
        polls = 0;
        spins = 0;
        continue;
      }
      if (polls++ == kConsumerPolls) {
        Semaphore32Acquire(&queue->jobsAvailable, 1);
        break;
      }
      SpinBackOff(&spins);
    }
    Job job = TakeJob(queue);
    if (!job.function) return 0;
    job.function(job.user, job.index, job.count);
    queue->completed.fetch_add(1);
  }
}

void CreateJobQueue(JobQueue* queue, uint32_t capacityHint, uint32_t threadCount) {
  OsInitCriticalSection(&queue->waitLock);
  queue->submitLock.store(0);
  Semaphore32Init(&queue->jobsAvailable, 0);

  uint64_t wanted = capacityHint;
  if (wanted < 4) wanted = 4;
  if (wanted < 4ull * threadCount) wanted = 4ull * threadCount;
  if (wanted > kMaxCapacity) wanted = kMaxCapacity;
  uint32_t capacity = 4;
  while (capacity < wanted) capacity <<= 1;
  Semaphore32Init(&queue->freeSlots, capacity);

  queue->workerCount = threadCount >= 2 ? threadCount - 1 : 0;
  queue->capacity = capacity;
  queue->quarter = capacity / 4;
  queue->mask = capacity - 1;
  queue->readTicket.store(0);
  queue->readsDone.store(0);
  queue->completed.store(0);
  queue->writeIndex.store(0);
  queue->submitted.store(0);
  queue->lastWaited = 0;
  queue->partner.store(nullptr);
  queue->visiting.store(0);
  queue->workers = nullptr;
  queue->ring = nullptr;

  uint32_t workers = queue->workerCount;
  if (workers == 0) return;
  queue->workers = static_cast<JobWorker*>(MemAlloc(static_cast<uint64_t>(workers) * sizeof(JobWorker)));
  queue->ring = static_cast<Job*>(MemAlloc(static_cast<uint64_t>(capacity) * sizeof(Job)));
  if (!queue->workers || !queue->ring) {
    // Without threads the queue still works: jobs run on the submitter.
    LogPrintf("CreateJobQueue ... failed.\n");
    MemFree(queue->workers);
    MemFree(queue->ring);
    queue->workers = nullptr;
    queue->ring = nullptr;
    queue->workerCount = 0;
    return;
  }
  memset(queue->ring, 0, static_cast<size_t>(capacity) * sizeof(Job));
  memset(queue->workers, 0, static_cast<size_t>(workers) * sizeof(JobWorker));
  for (uint32_t i = 0; i < workers; ++i) {
    JobWorker* worker = &queue->workers[i];
    worker->queue = queue;
    FormatBounded(worker->name, sizeof(worker->name), "QvJobConsumer%d", static_cast<int>(i));
    if (StartThread(&worker->thread, JobConsumerMain, worker, worker->name) != 0) {
      // Keep the threads that did start; with none, run jobs inline.
      LogPrintf("StartThread(%s) ... failed.\n", worker->name);
      queue->workerCount = i;
      break;
    }
  }
}

void SubmitJobs(JobQueue* queue, uint32_t count, JobFunction function, void* user) {
  if (queue->workerCount == 0) {
    for (uint32_t i = 0; i < count; ++i) function(user, i, count);
    return;
  }
  uint32_t first = 0;
  while (first < count) {
    uint32_t n = count - first;
    if (n > queue->quarter) n = queue->quarter;
    Semaphore32Acquire(&queue->freeSlots, n);
    uint32_t spins = 0;
    for (;;) {
      uint32_t expected = 0;
      if (queue->submitLock.compare_exchange_weak(expected, 1)) break;
      SpinBackOff(&spins);
    }
    uint32_t w = queue->writeIndex.fetch_add(n);
    for (uint32_t k = 0; k < n; ++k) {
      Job* slot = &queue->ring[(w + k) & queue->mask];
      slot->function = function;
      slot->user = user;
      slot->index = first + k;
      slot->count = count;
    }
    queue->submitted.fetch_add(n);
    uint32_t held = 1;
    queue->submitLock.compare_exchange_strong(held, 0);
    Semaphore32Release(&queue->jobsAvailable, n);
    first += n;
  }
}

void WaitJobs(JobQueue* queue) {
  OsEnterCriticalSection(&queue->waitLock);
  uint32_t s = queue->submitted.load();
  if (s == queue->lastWaited) {
    OsLeaveCriticalSection(&queue->waitLock);
    return;
  }
  queue->lastWaited = s;
  if (queue->workerCount == 0) {
    OsLeaveCriticalSection(&queue->waitLock);
    return;
  }
  uint32_t spins = 0;
  for (;;) {
    if (Semaphore32TryAcquire(&queue->jobsAvailable, 1) == 0) {
      Job job = TakeJob(queue);
      if (job.function) {
        job.function(job.user, job.index, job.count);
        queue->completed.fetch_add(1);
      }
      spins = 0;
      continue;
    }
    if (queue->completed.load() == queue->submitted.load()) break;
    SpinBackOff(&spins);
  }
  OsLeaveCriticalSection(&queue->waitLock);
}

void DestroyJobQueue(JobQueue* queue) {
  uint32_t workers = queue->workerCount;
  if (workers > 0) {
    SubmitJobs(queue, workers, nullptr, nullptr);
    for (uint32_t i = workers; i-- > 0;) JoinThread(queue->workers[i].thread);
  }
  MemFree(queue->ring);
  MemFree(queue->workers);
  queue->ring = nullptr;
  queue->workers = nullptr;
  queue->workerCount = 0;
  Semaphore32Destroy(&queue->freeSlots);
  Semaphore32Destroy(&queue->jobsAvailable);
  OsDeleteCriticalSection(&queue->waitLock);
}
