// Polls a condition until it holds or a generous deadline passes; negative
// checks ("still waiting") use SettleBriefly and can only miss faults, never
// invent them.
#pragma once

#include <chrono>
#include <thread>

template <typename Predicate>
bool WaitUntil(Predicate holds, int timeoutMs = 20000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!holds()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

inline void SettleBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }
