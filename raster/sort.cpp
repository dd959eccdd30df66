// Stable depth sort of a tile's triangle list by 32-bit key.
#include "raster/bin_internal.h"

namespace {

// Below this many nodes a shaker sort beats the four radix passes.
constexpr uint32_t kExchangeSortLimit = 16;

// Fewer than kExchangeSortLimit nodes: shaker sort on an array of pointers,
// each pass stopping at the last swap of the previous one.
void ExchangeSort(TileNode* sentinel, uint32_t count, int32_t ascending) {
  TileNode* a[kExchangeSortLimit];
  uint32_t n = 0;
  for (TileNode* p = sentinel->next; n < count; p = p->next) a[n++] = p; // count is the list's length
  auto outOfOrder = [ascending](const TileNode* x, const TileNode* y) {
    return ascending ? x->key > y->key : x->key < y->key;
  };
  uint32_t lo = 0, hi = n - 1; // pairs (i, i+1) with lo <= i < hi
  while (lo < hi) {
    uint32_t last = lo;
    for (uint32_t i = lo; i < hi; i++) {
      if (outOfOrder(a[i], a[i + 1])) {
        TileNode* t = a[i]; a[i] = a[i + 1]; a[i + 1] = t;
        last = i;
      }
    }
    hi = last;
    if (lo >= hi) break;
    last = hi;
    for (uint32_t i = hi; i > lo; i--) {
      if (outOfOrder(a[i - 1], a[i])) {
        TileNode* t = a[i - 1]; a[i - 1] = a[i]; a[i] = t;
        last = i;
      }
    }
    lo = last;
  }
  TileNode* prev = sentinel;
  for (uint32_t i = 0; i < n; i++) {
    prev->next = a[i];
    prev = a[i];
  }
  prev->next = nullptr;
  (void)count;
}

// LSD radix sort, 4 passes of 8 bits; buckets keep arrival order. A pass
// over a byte that every key shares would leave the list as it is, so it is
// skipped (the common case: text drawn at one depth has one key).
void RadixSort(TileNode* sentinel, int32_t ascending) {
  uint32_t flip = ascending ? 0u : 0xFFFFFFFFu;
  uint32_t all = 0xFFFFFFFFu, any = 0;
  for (const TileNode* p = sentinel->next; p; p = p->next) {
    all &= p->key;
    any |= p->key;
  }
  const uint32_t varying = all ^ any;
  TileNode* head[256];
  TileNode* tail[256];
  for (uint32_t shift = 0; shift < 32; shift += 8) {
    if (((varying >> shift) & 0xFF) == 0) continue;
    for (uint32_t b = 0; b < 256; b++) head[b] = nullptr;
    for (TileNode* p = sentinel->next; p;) {
      TileNode* next = p->next;
      uint32_t b = ((p->key ^ flip) >> shift) & 0xFF;
      if (head[b]) tail[b]->next = p;
      else head[b] = p;
      tail[b] = p;
      p = next;
    }
    TileNode* prev = sentinel;
    for (uint32_t b = 0; b < 256; b++) {
      if (!head[b]) continue;
      prev->next = head[b];
      prev = tail[b];
    }
    prev->next = nullptr;
  }
}

} // namespace

void ListSort(TileNode* sentinel, SortOrder::Value order) {
  uint32_t count = 0;
  for (TileNode* p = sentinel->next; p && count < kExchangeSortLimit; p = p->next) count++;
  if (count < 2) return;
  if (count < kExchangeSortLimit) ExchangeSort(sentinel, count, order == SortOrder::Ascending);
  else RadixSort(sentinel, order == SortOrder::Ascending);
}

namespace {

inline uint32_t QueuePosition(const TileNode* node) { return node->order; }

// Stable merge of two queue-ordered lists.
TileNode* MergeByQueue(TileNode* a, TileNode* b) {
  TileNode head;
  TileNode* tail = &head;
  while (a && b) {
    if (QueuePosition(b) < QueuePosition(a)) {
      tail->next = b;
      b = b->next;
    } else {
      tail->next = a;
      a = a->next;
    }
    tail = tail->next;
  }
  tail->next = a ? a : b;
  return head.next;
}

} // namespace

void RestoreQueueOrder(TileNode* sentinel) {
  // The common case (one set-up job, or jobs that finished in turn) is
  // already ordered: one pass finds out.
  bool ordered = true;
  for (TileNode* p = sentinel->next; p && p->next; p = p->next) {
    if (QueuePosition(p->next) < QueuePosition(p)) {
      ordered = false;
      break;
    }
  }
  if (ordered) return;
  // Each set-up job's triangles arrive in order, so the list is a few
  // ascending runs: merge neighbouring runs until one is left. No memory
  // beyond the nodes themselves.
  for (;;) {
    TileNode* runs = sentinel->next;
    TileNode* mergedHead = nullptr;
    TileNode** mergedTail = &mergedHead;
    uint32_t merges = 0;
    while (runs) {
      TileNode* first = runs;
      TileNode* p = first;
      while (p->next && QueuePosition(p->next) >= QueuePosition(p)) p = p->next;
      TileNode* second = p->next;
      p->next = nullptr;
      TileNode* rest = nullptr;
      if (second) {
        TileNode* q = second;
        while (q->next && QueuePosition(q->next) >= QueuePosition(q)) q = q->next;
        rest = q->next;
        q->next = nullptr;
        merges++;
      }
      TileNode* merged = second ? MergeByQueue(first, second) : first;
      *mergedTail = merged;
      while (merged->next) merged = merged->next;
      mergedTail = &merged->next;
      runs = rest;
    }
    sentinel->next = mergedHead;
    if (merges == 0) break;
  }
}
