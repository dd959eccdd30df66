// Command ring: placement at the end of the ring, back-pressure, order and
// integrity under a slow consumer, Finish and Quit.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "gfx_harness.h"

namespace {

// A test record: sequence number, payload length and checksum, then payload
// bytes derived from the sequence number.
struct ProbeCommand {
  GfxCommand header;
  uint64_t sequence;
  uint64_t payloadBytes;
  uint64_t checksum;
};

struct ProbeLog {
  std::atomic<uint64_t> executed{0};
  std::atomic<uint64_t> failures{0};
  std::atomic<uint64_t> wraps{0};
  uint64_t expected = 0;        // render thread only
  uint8_t* lastAddress = nullptr; // render thread only
  uint32_t slowEvery = 0;
  // The consumer holds the record with this sequence number until the
  // producer has nearly filled the ring, so back-pressure happens whatever
  // the machine's timing.
  uint64_t stallAt = ~0ull;
  const QvGfxContext* context = nullptr;
};

ProbeLog* g_log = nullptr;

struct PointerCommandForTest {
  GfxCommand header;
  void* pointer;
};

uint8_t PayloadByte(uint64_t sequence, uint64_t i) {
  uint64_t x = sequence * 0x9E3779B97F4A7C15ull + i * 0xBF58476D1CE4E5B9ull;
  x ^= x >> 29;
  return uint8_t(x);
}

uint64_t Checksum(const uint8_t* p, uint64_t n) {
  uint64_t h = 1469598103934665603ull;
  for (uint64_t i = 0; i < n; i++) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

GfxCommand* ExecuteProbe(QvGfxContext*, GfxCommand* command) {
  ProbeCommand* k = reinterpret_cast<ProbeCommand*>(command);
  ProbeLog* log = g_log;
  uint8_t* address = reinterpret_cast<uint8_t*>(command);
  if (log->lastAddress && address < log->lastAddress) log->wraps.fetch_add(1);
  log->lastAddress = address;
  bool ok = k->sequence == log->expected && k->header.size == CommandRecordSize(sizeof(ProbeCommand) + k->payloadBytes) &&
            (reinterpret_cast<uintptr_t>(address) & 7) == 0;
  const uint8_t* payload = address + sizeof(ProbeCommand);
  if (ok) ok = Checksum(payload, k->payloadBytes) == k->checksum;
  for (uint64_t i = 0; ok && i < k->payloadBytes; i++) ok = payload[i] == PayloadByte(k->sequence, i);
  if (!ok) log->failures.fetch_add(1);
  log->expected = k->sequence + 1;
  if (log->slowEvery && k->sequence % log->slowEvery == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  if (k->sequence == log->stallAt)
    for (int i = 0; i < 5000 && log->context->stream.writable.count.load() >= 32768; i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  log->executed.fetch_add(1);
  return NextCommand(command);
}

// Records one probe with payloadBytes of payload; returns its address.
uint8_t* RecordProbe(QvGfxContext* c, uint64_t sequence, uint64_t payloadBytes) {
  uint64_t n = sizeof(ProbeCommand) + payloadBytes;
  ProbeCommand* k = static_cast<ProbeCommand*>(AllocCommand(c, n));
  if (!k) return nullptr;
  k->header.size = CommandRecordSize(n);
  k->header.execute = ExecuteProbe;
  k->sequence = sequence;
  k->payloadBytes = payloadBytes;
  uint8_t* payload = reinterpret_cast<uint8_t*>(k) + sizeof(ProbeCommand);
  for (uint64_t i = 0; i < payloadBytes; i++) payload[i] = PayloadByte(sequence, i);
  k->checksum = Checksum(payload, payloadBytes);
  SubmitCommand(c, n);
  return reinterpret_cast<uint8_t*>(k);
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log = &log;
    context = NewTestContext(2, true);
    ASSERT_NE(context, nullptr);
  }
  void TearDown() override {
    DeleteTestContext(context);
    g_log = nullptr;
  }
  uint64_t Offset(uint8_t* p) const { return uint64_t(p - context->stream.ringBase); }
  QvGfxContext* context = nullptr;
  ProbeLog log;
};

// Moves the write position to offset target with probes.
void AdvanceTo(QvGfxContext* c, uint64_t& sequence, uint64_t target) {
  while (uint64_t(c->stream.writePosition - c->stream.ringBase) < target) {
    uint64_t left = target - uint64_t(c->stream.writePosition - c->stream.ringBase);
    uint64_t n = left > 65536 ? 65536 : left;
    ASSERT_GE(n, sizeof(ProbeCommand));
    ASSERT_NE(RecordProbe(c, sequence++, n - sizeof(ProbeCommand)), nullptr);
  }
}

TEST_F(StreamTest, RecordFillingTheReserveExactlyIsPlacedWithoutWrap) {
  const uint64_t capacity = context->stream.capacity;
  ASSERT_EQ(capacity, 1048576u);
  uint64_t sequence = 0;
  // Request of 64 bytes with exactly 64 + 32 bytes left: placed in place.
  AdvanceTo(context, sequence, capacity - 96);
  uint8_t* a = RecordProbe(context, sequence++, 64 - sizeof(ProbeCommand));
  EXPECT_EQ(Offset(a), capacity - 96);
  // 32 bytes remain: anything now wraps to the base.
  uint8_t* b = RecordProbe(context, sequence++, 0);
  EXPECT_EQ(Offset(b), 0u);

  // Request of 65 bytes (a 72-byte record) with 65 + 31 bytes left: wraps.
  AdvanceTo(context, sequence, capacity - 96);
  uint8_t* c = RecordProbe(context, sequence++, 65 - sizeof(ProbeCommand));
  EXPECT_EQ(Offset(c), 0u);
  EXPECT_EQ(Offset(context->stream.writePosition), 72u);
  Finish(context);
  EXPECT_EQ(log.failures.load(), 0u);
  EXPECT_EQ(log.executed.load(), sequence);
  EXPECT_EQ(log.wraps.load(), 2u);
}

TEST_F(StreamTest, LargestPlaceableRecordRunsAndOversizedIsRefused) {
  uint64_t sequence = 0;
  ASSERT_NE(RecordProbe(context, sequence++, 1000), nullptr);
  // n + 32 == capacity: fits once the ring has drained, after a wrap.
  uint64_t largest = context->stream.capacity - kCommandReserve;
  uint8_t* big = RecordProbe(context, sequence++, largest - sizeof(ProbeCommand));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(Offset(big), 0u);
  // One more byte could never be placed: refused instead of blocking for ever.
  EXPECT_EQ(AllocCommand(context, largest + 1), nullptr);
  EXPECT_EQ(AllocCommand(context, 8), nullptr);
  ASSERT_NE(RecordProbe(context, sequence++, 8), nullptr);
  Finish(context);
  EXPECT_EQ(log.failures.load(), 0u);
  EXPECT_EQ(log.executed.load(), sequence);
}

TEST_F(StreamTest, FinishWithNothingRecordedReturns) {
  Finish(context);
  EXPECT_EQ(context->stream.idle.value.load(), 0);
  Finish(context);
  EXPECT_EQ(context->stream.idle.value.load(), 0);
}

GfxCommand* ExecuteSlowFlag(QvGfxContext*, GfxCommand* command) {
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  reinterpret_cast<std::atomic<int32_t>*>(reinterpret_cast<PointerCommandForTest*>(command)->pointer)->store(1);
  return NextCommand(command);
}

TEST_F(StreamTest, FinishWaitsForEverythingRecordedBefore) {
  std::atomic<int32_t> flag{0};
  PointerCommandForTest* k = static_cast<PointerCommandForTest*>(AllocCommand(context, sizeof(PointerCommandForTest)));
  ASSERT_NE(k, nullptr);
  k->header.size = sizeof(PointerCommandForTest);
  k->header.execute = ExecuteSlowFlag;
  k->pointer = &flag;
  SubmitCommand(context, sizeof(PointerCommandForTest));
  Finish(context);
  EXPECT_EQ(flag.load(), 1);
}

TEST_F(StreamTest, NothingRecordedAfterQuitRuns) {
  uint64_t sequence = 0;
  ASSERT_NE(RecordProbe(context, sequence++, 16), nullptr);
  Quit(context); // joins: the render thread has ended when this returns
  EXPECT_EQ(context->stream.renderThread, nullptr);
  EXPECT_EQ(log.executed.load(), 1u);
  ASSERT_NE(RecordProbe(context, sequence++, 16), nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(log.executed.load(), 1u);
}

#if defined(QV_TSAN) || defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kStressRecords = 200000;
#else
constexpr uint64_t kStressRecords = 1000000;
#endif

TEST_F(StreamTest, StressSlowConsumerKeepsOrderAndIntegrity) {
  log.slowEvery = 4096;
  log.stallAt = 1000;
  log.context = context;
  uint64_t state = 12345;
  uint64_t minWritable = ~0ull;
  for (uint64_t sequence = 0; sequence < kStressRecords; sequence++) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    uint64_t r = state >> 33;
    // Mostly small records, some of several KiB, now and then 64 KiB ones.
    uint64_t payload = (r & 1023) == 0 ? 65536 + (r >> 10) % 4096 : (r & 15) == 0 ? (r >> 4) % 8192 : (r >> 4) % 97;
    uint64_t writable = context->stream.writable.count.load();
    if (writable < minWritable) minWritable = writable;
    ASSERT_NE(RecordProbe(context, sequence, payload), nullptr);
  }
  Finish(context);
  EXPECT_EQ(log.failures.load(), 0u);
  EXPECT_EQ(log.executed.load(), kStressRecords);
  EXPECT_GT(log.wraps.load(), 10u);
  // The producer had to wait for the consumer at least once.
  EXPECT_LT(minWritable, 65536u + 4096u + 64u);
}

} // namespace
