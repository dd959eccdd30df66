// qvdelay_headless [options] <script> [output directory]
// qvdelay_headless --version | --help
// The options are qvdelay's (--rate HZ, --mouse-scale F, --participant NAME):
// paced frames then run at that rate.
// Runs the program on the headless platform, frame by frame as the script
// says, and writes the frames marked "dump" as binary PPM files named
// frame_NNNNN.ppm (NNNNN = index of the AppUpdate call, from 0).
//
// qvdelay_headless [options] - [output directory] reads the script from
// standard input and runs each line as it arrives (set-up lines first).
//
// Script: one entry per line, '#' starts a comment.
//   seed <n>          seed of the random generator (default: local time)
//   joystick          a joystick is attached
//   nokeyboard        no keyboard is attached
//   unpaced           no 60 Hz pacing
//   nomouse           no mouse is attached
//   steadyclock       the frame-rate clock advances exactly one frame period
//                     (1/60 s) per frame, so the frames do not depend on the machine
//   results <path>    the results record goes to path instead of
//                     qvdelay_results.csv beside app_log.txt
//   results off       no results record
//   <n> <token>...    run n frames with these inputs held:
//     esc space enter q up down left right w a s d 2 .. 8   keys
//     key=<scan code>   any key (decimal or 0x..)
//     kblost jslost     this device's reads fail
//     jx=<v> jy=<v> jz=<v> jrz=<v>  joystick axes, -1000 .. 1000
//     jb=<n>            joystick button n held
//     hat=<v>           hat 0 in hundredths of a degree
//     mx=<n> my=<n>     mouse motion of every frame, in counts
//     mslost            mouse reads fail
//     dump              write these frames
//     quit              post the quit message after these frames
//   marker            prints "marker <frame> <x> <y>" (the marker's logical
//                     position on the last frame run, one decimal) or
//                     "marker <frame> hidden" to standard output, flushed
// After the last entry the program is told to quit.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "app/app_testing.h"
#include "app/headless.h"

namespace {

constexpr uint32_t kMaxEntries = 4096;

struct ScriptEntry {
  uint32_t frames;
  HeadlessFrameInput input;
  int32_t dump;
  int32_t quit;
  int32_t marker; // a "marker" line: no frames, prints where the marker is
};

struct Script {
  ScriptEntry* entries;
  uint32_t count;
  uint32_t current;
  uint32_t usedInCurrent;
  const char* outputDirectory;
  int32_t dumpPending; // frame index + 1 of a frame to write
  int32_t failed;      // a bad line: the run ends with exit code 2
  uint32_t frame;      // index of the frame running now
  // Where the lines come from; from standard input ("-") each line is
  // read when the frames before it have run.
  FILE* source;
  const char* name;
  uint32_t lineNumber;
  int32_t streaming;
  int32_t started; // AppInitialize has run: set-up lines are too late
  HeadlessConfig* config;
};

uint64_t SteadyClock(void* user) {
  return uint64_t(static_cast<Script*>(user)->frame) * 1000000u / uint64_t(RunningRate() + 0.5);
}

struct NamedKey {
  const char* name;
  uint8_t scanCode;
};

const NamedKey kNamedKeys[] = {
    {"esc", kScanEscape}, {"space", kScanSpace}, {"enter", kScanEnter}, {"q", kScanQ},
    {"up", kScanUp},      {"down", kScanDown},   {"left", kScanLeft},   {"right", kScanRight},
    {"w", kScanW},        {"a", kScanA},         {"s", kScanS},         {"d", kScanD},
    {"2", 0x03},          {"3", 0x04},           {"4", 0x05},           {"5", 0x06},
    {"6", 0x07},          {"7", 0x08},           {"8", 0x09},
};

// Splits on blanks in place; null at the end of the line.
char* NextToken(char** cursor) {
  char* p = *cursor;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  if (*p == 0) return nullptr;
  char* start = p;
  while (*p != 0 && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') ++p;
  if (*p != 0) *p++ = 0;
  *cursor = p;
  return start;
}

int32_t ParseToken(const char* token, ScriptEntry* entry) {
  for (const NamedKey& key : kNamedKeys) {
    if (strcmp(token, key.name) == 0) {
      entry->input.keys[key.scanCode] = 0x80;
      return 0;
    }
  }
  const char* eq = strchr(token, '=');
  if (eq != nullptr) {
    long value = strtol(eq + 1, nullptr, 0);
    size_t n = size_t(eq - token);
    if (n == 3 && strncmp(token, "key", 3) == 0 && value >= 0 && value < 256) {
      entry->input.keys[value] = 0x80;
    } else if (n == 2 && strncmp(token, "jx", 2) == 0) {
      entry->input.joystick.lX = int32_t(value);
    } else if (n == 2 && strncmp(token, "jy", 2) == 0) {
      entry->input.joystick.lY = int32_t(value);
    } else if (n == 2 && strncmp(token, "jz", 2) == 0) {
      entry->input.joystick.lZ = int32_t(value);
    } else if (n == 3 && strncmp(token, "jrz", 3) == 0) {
      entry->input.joystick.lRz = int32_t(value);
    } else if (n == 2 && strncmp(token, "jb", 2) == 0 && value >= 0 && value < 128) {
      entry->input.joystick.rgbButtons[value] = 0x80;
    } else if (n == 3 && strncmp(token, "hat", 3) == 0) {
      entry->input.joystick.rgdwPOV[0] = uint32_t(value);
    } else if (n == 2 && strncmp(token, "mx", 2) == 0) {
      entry->input.mouseDx = int32_t(value);
    } else if (n == 2 && strncmp(token, "my", 2) == 0) {
      entry->input.mouseDy = int32_t(value);
    } else {
      return 1;
    }
    return 0;
  }
  if (strcmp(token, "kblost") == 0) {
    entry->input.keyboardLost = 1;
  } else if (strcmp(token, "jslost") == 0) {
    entry->input.joystickLost = 1;
  } else if (strcmp(token, "mslost") == 0) {
    entry->input.mouseLost = 1;
  } else if (strcmp(token, "dump") == 0) {
    entry->dump = 1;
  } else if (strcmp(token, "quit") == 0) {
    entry->quit = 1;
  } else {
    return 1;
  }
  return 0;
}

enum LineKind : int32_t { kLineNone = 0, kLineEntry = 1, kLineBad = 2 };

// One script line: a set-up line changes the configuration, a frame or
// marker line appends an entry. kLineBad after printing why.
int32_t ParseLine(Script* s, char* line) {
  s->lineNumber += 1;
  char* hash = strchr(line, '#');
  if (hash != nullptr) *hash = 0;
  char* save = line;
  char* token = NextToken(&save);
  if (token == nullptr) return kLineNone;
  HeadlessConfig& config = *s->config;
  int32_t setUp = strcmp(token, "seed") == 0 || strcmp(token, "joystick") == 0 || strcmp(token, "nokeyboard") == 0 ||
                  strcmp(token, "nomouse") == 0 || strcmp(token, "unpaced") == 0 ||
                  strcmp(token, "steadyclock") == 0;
  if (setUp && s->started) {
    fprintf(stderr, "%s:%u: %s must come before the first frames\n", s->name, s->lineNumber, token);
    return kLineBad;
  }
  if (strcmp(token, "seed") == 0) {
    char* value = NextToken(&save);
    AppSetSeedForTest(1, value ? uint32_t(strtoul(value, nullptr, 0)) : 0);
  } else if (strcmp(token, "joystick") == 0) {
    config.hasJoystick = 1;
  } else if (strcmp(token, "nokeyboard") == 0) {
    config.hasKeyboard = 0;
  } else if (strcmp(token, "nomouse") == 0) {
    config.hasMouse = 0;
  } else if (strcmp(token, "unpaced") == 0) {
    config.paced = 0;
  } else if (strcmp(token, "steadyclock") == 0) {
    AppSetClockForTest(SteadyClock, s);
  } else if (strcmp(token, "results") == 0) {
    char* value = NextToken(&save);
    if (value == nullptr) {
      fprintf(stderr, "%s:%u: results needs a path or off\n", s->name, s->lineNumber);
      return kLineBad;
    }
    AppSetResultsPath(strcmp(value, "off") == 0 ? "" : value);
  } else if ((token[0] >= '0' && token[0] <= '9') || strcmp(token, "marker") == 0) {
    if (s->count == kMaxEntries) {
      fprintf(stderr, "%s:%u: too many entries\n", s->name, s->lineNumber);
      return kLineBad;
    }
    ScriptEntry* e = &s->entries[s->count++];
    memset(static_cast<void*>(e), 0, sizeof(*e));
    HeadlessClearInput(&e->input);
    if (token[0] == 'm') {
      e->marker = 1;
      if (NextToken(&save) != nullptr) {
        fprintf(stderr, "%s:%u: marker takes nothing after it\n", s->name, s->lineNumber);
        return kLineBad;
      }
      return kLineEntry;
    }
    e->frames = uint32_t(strtoul(token, nullptr, 10));
    while ((token = NextToken(&save)) != nullptr) {
      if (ParseToken(token, e) != 0) {
        fprintf(stderr, "%s:%u: unknown token %s\n", s->name, s->lineNumber, token);
        return kLineBad;
      }
    }
    return kLineEntry;
  } else {
    fprintf(stderr, "%s:%u: unknown line\n", s->name, s->lineNumber);
    return kLineBad;
  }
  return kLineNone;
}

// Reads lines until one appends an entry; 0 at the end of the input or
// after a bad line (s->failed set).
int32_t ReadEntry(Script* s) {
  char line[1024];
  while (fgets(line, sizeof(line), s->source) != nullptr) {
    int32_t kind = ParseLine(s, line);
    if (kind == kLineBad) {
      s->failed = 1;
      return 0;
    }
    if (kind == kLineEntry) return 1;
  }
  return 0;
}

// "marker <frame> <x> <y>" for the last frame run, or "... hidden".
void PrintMarker(const Script* s) {
  int32_t last = int32_t(s->frame) - 1;
  if (last >= 0 && g_app.markerShown) {
    printf("marker %d %.1f %.1f\n", last, double(g_app.markerPos[0]), double(g_app.markerPos[1]));
  } else {
    printf("marker %d hidden\n", last);
  }
  fflush(stdout);
}

void WritePpm(const Script* script, uint32_t frame, const uint8_t* pixels) {
  char path[1024];
  snprintf(path, sizeof(path), "%s/frame_%05u.ppm", script->outputDirectory, frame);
  FILE* file = fopen(path, "wb");
  if (file == nullptr) {
    fprintf(stderr, "cannot write %s\n", path);
    return;
  }
  fprintf(file, "P6\n%u %u\n255\n", kFrameWidth, kFrameHeight);
  static uint8_t row[kFrameWidth * 3];
  for (uint32_t y = 0; y < kFrameHeight; ++y) {
    const uint8_t* src = pixels + uint64_t(y) * kFramePitch;
    for (uint32_t x = 0; x < kFrameWidth; ++x) {
      row[x * 3 + 0] = src[x * 4 + 2];
      row[x * 3 + 1] = src[x * 4 + 1];
      row[x * 3 + 2] = src[x * 4 + 0];
    }
    fwrite(row, 1, sizeof(row), file);
  }
  fclose(file);
}

int32_t Step(void* user, uint32_t frame, const uint8_t* last, HeadlessFrameInput* next) {
  Script* s = static_cast<Script*>(user);
  s->frame = frame;
  if (s->dumpPending != 0 && last != nullptr) WritePpm(s, uint32_t(s->dumpPending - 1), last);
  s->dumpPending = 0;
  s->started = 1;
  // Move on to the entry that still has frames to run.
  for (;;) {
    if (s->current >= s->count) {
      // From standard input the entries run so far are not needed again.
      if (!s->streaming || s->failed) return 1;
      s->count = 0;
      s->current = 0;
      s->usedInCurrent = 0;
      if (ReadEntry(s) == 0) return 1;
    }
    const ScriptEntry& e = s->entries[s->current];
    if (s->usedInCurrent < e.frames) break;
    if (e.marker) PrintMarker(s);
    if (e.quit) {
      s->current = s->count;
      s->streaming = 0;
      return 1;
    }
    ++s->current;
    s->usedInCurrent = 0;
  }
  const ScriptEntry& e = s->entries[s->current];
  *next = e.input;
  if (e.dump) s->dumpPending = int32_t(frame) + 1;
  ++s->usedInCurrent;
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  AppOptions options;
  int first = 1;
  int32_t exitCode = TakeCommandLine(argc, argv, "qvdelay_headless",
                                     "usage: qvdelay_headless [options] <script> [output directory]", 1, 2, &options,
                                     &first, stdout, stderr);
  if (exitCode != kOptionsGoOn) return exitCode;
  AppSetOptions(&options);
  const char* scriptPath = argv[first];
  int32_t fromInput = strcmp(scriptPath, "-") == 0;
  FILE* file = fromInput ? stdin : fopen(scriptPath, "rb");
  if (file == nullptr) {
    fprintf(stderr, "cannot open %s\n", scriptPath);
    return 2;
  }
  MemInitialize();
  static ScriptEntry entries[kMaxEntries];
  HeadlessConfig config;
  HeadlessConfigDefault(&config);
  Script script = {entries, 0, 0, 0, argc - first > 1 ? argv[first + 1] : ".", 0, 0, 0,
                   file, fromInput ? "<stdin>" : scriptPath, 0, fromInput, 0, &config};
  if (fromInput) {
    // The set-up lines up to the first entry; the rest as the run goes.
    ReadEntry(&script);
  } else {
    while (ReadEntry(&script) != 0) {
    }
    fclose(file);
  }
  if (script.failed) {
    MemFinalize();
    return 2;
  }
  int32_t result = HeadlessRun(&config, Step, &script);
  MemFinalize();
  return script.failed ? 2 : result;
}
