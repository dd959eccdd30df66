// Drives the real AppInitialize / AppUpdate / AppFinalize on the headless
// platform, one frame at a time, and renders reference frames through the
// same context for comparison.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/app_testing.h"
#include "app/headless.h"

// Packed 640 x 480 BGRA copy of a presented frame.
typedef std::vector<uint8_t> Frame;

struct Box {
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1; // inclusive; empty when x1 < x0
  bool Empty() const { return x1 < x0; }
  bool operator==(const Box& o) const { return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1; }
};

// Pink (1.0, 0.8, 0.9) ink: red clearly above green.
Box PinkBox(const Frame& frame, int rowFrom = 0, int rowTo = 480);
int CountPink(const Frame& frame, int x0, int y0, int x1, int y1);

struct RefText {
  float x, y, depth;
  bool pink;
  std::string text;
};

// Model of xorshift128 seeded as the program does.
struct RefGenerator {
  uint32_t x, y = 362436069u, z = 521288629u, w = 88675123u;
  explicit RefGenerator(uint32_t seed) : x(seed) {}
  uint32_t Next() {
    uint32_t t = x ^ (x << 11);
    x = y;
    y = z;
    z = w;
    w = w ^ (w >> 19) ^ t ^ (t >> 8);
    return w;
  }
};

class AppHarness {
public:
  // Frames advance a scripted clock by 1/64 s, so the measured rate is
  // exactly 64.0 from the 65th frame on.
  static constexpr uint64_t kFrameMicros = 15625;

  int32_t Start(uint32_t seed, const HeadlessConfig* config = nullptr, uint32_t processors = 0);
  // Runs one frame with these keys held; returns AppUpdate's result.
  int32_t Frame(std::initializer_list<uint8_t> keys = {});
  int32_t FrameWith(const HeadlessFrameInput& input);
  // Frames without input until the rate reads 64.0 (65 frames from start).
  void WarmUp();
  void Stop();

  // The frame the last Frame() presented.
  const ::Frame& Last() const { return last; }
  // A frame with exactly these texts, drawn through the app's context.
  ::Frame Render(const std::vector<RefText>& texts);
  // Moves the scripted clock on by extra microseconds (a late frame).
  void AdvanceClock(uint64_t micros);
  // The test's own folder, where app_log.txt (and the results record) go.
  const std::string& Directory() const { return directory; }
  std::string Log() const { return log; }
  std::string LogFile() const;
  uint32_t frames = 0;
  bool started = false;
  bool keepFrames = true; // copy each presented frame into Last()
  const AppOptions* options = nullptr; // command-line options for the next Start

private:
  ::Frame last;
  std::string log;
  std::string directory;
};

bool SameFrame(const Frame& a, const Frame& b);
// Line k (0 = the header) of a text file with its newline; "" past the end.
std::string RecordLine(const std::string& path, int k);
// A directory of its own for the current test's app_log.txt (with the
// trailing separator), so test programs running side by side never share
// one log file.
std::string TestLogDirectory();
// Texts of each screen, from the rules.
std::vector<RefText> SelectScreen(const char* fps);
std::vector<RefText> TrialScreen(int step, bool candidateA, const char* fps);
void AddMarker(std::vector<RefText>* texts, float x, float y, uint32_t sampleBits);
std::vector<RefText> ResultScreen(const std::vector<int>& results, const char* fps);
