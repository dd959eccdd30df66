// Log and console: LogPrintf hands each message to a chain of sinks.
#include <cstdio>
#include <cstring>

#include "runtime/runtime.h"
#include "runtime/spin.h"

namespace {
constexpr uint32_t kPathBytes = 512;
constexpr uint32_t kNameBytes = 260;
constexpr uint32_t kDirectoryDepth = 16;

struct LogState {
  std::atomic<LogSink> currentSink;
  std::atomic<LogSink> previousSink;
  char fileName[kNameBytes];
  char baseDirectory[kPathBytes];
  uint32_t directoryCount;
  char directories[kDirectoryDepth][kPathBytes];
  std::atomic<int32_t> bFileSinkInstalled;
  // Held while a message goes down the chain of sinks, so that messages from
  // the main and the render thread reach each sink one after the other. A
  // plain flag: nothing to create, so the log works before any start-up.
  // A sink must therefore not log itself.
  std::atomic<uint32_t> chainBusy;
};

constinit LogState s_log = {{ConsoleSink}, {nullptr}, {}, {}, 1, {}, {0}, {0}};
} // namespace

int32_t FormatBounded(char* buffer, uint64_t size, const char* format, ...) {
  if (!buffer || size == 0) return 0;
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, static_cast<size_t>(size), format, args);
  va_end(args);
  buffer[size - 1] = 0;
  return static_cast<int32_t>(strlen(buffer));
}

int64_t LogPrintfV(const char* format, va_list args) {
  char message[4096];
  vsnprintf(message, sizeof(message), format, args);
  message[sizeof(message) - 1] = 0;
  uint32_t spins = 0;
  while (s_log.chainBusy.exchange(1, std::memory_order_acquire) != 0) SpinBackOff(&spins);
  LogSink sink = s_log.currentSink.load();
  int64_t result = sink ? sink(message) : 0;
  s_log.chainBusy.store(0, std::memory_order_release);
  return result;
}

int64_t LogPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int64_t result = LogPrintfV(format, args);
  va_end(args);
  return result;
}

int64_t ConsoleSink(const char* message) {
  int64_t result = printf("%s", message);
  fflush(stdout);
  return result;
}

void LogComposeSiblingPath(char* path, const char* name) {
  const char* directory = s_log.directories[s_log.directoryCount - 1];
  size_t base = strlen(s_log.baseDirectory);
  size_t entry = strlen(directory);
  size_t nameLength = strlen(name);
  path[0] = 0;
  if (base + entry + nameLength + 1 > kPathBytes) return;
  memcpy(path, s_log.baseDirectory, base);
  memcpy(path + base, directory, entry);
  memcpy(path + base + entry, name, nameLength + 1);
}

void LogComposePath(char* path) { LogComposeSiblingPath(path, s_log.fileName); }

// Opened and closed per message so the file is complete after every line.
int64_t FileSink(const char* message) {
  char path[kPathBytes];
  LogComposePath(path);
  FILE* file = path[0] ? fopen(path, "ab") : nullptr;
  if (!file) {
    LogComposePath(path);
    file = path[0] ? fopen(path, "wb") : nullptr;
  }
  if (file) {
    fputs(message, file);
    fclose(file);
  }
  LogSink previous = s_log.previousSink.load();
  return previous ? previous(message) : 0;
}

void LogInstallFileSink() {
  if (s_log.directoryCount < kDirectoryDepth) {
    s_log.directories[s_log.directoryCount][0] = 0;
    ++s_log.directoryCount;
  }
  // The name must be in place before the old file is deleted: composing
  // the path without it would name no file and the old log would survive.
  if (!s_log.bFileSinkInstalled.load()) {
    strncpy(s_log.fileName, "app_log.txt", kNameBytes - 1);
    s_log.fileName[kNameBytes - 1] = 0;
  }
  char path[kPathBytes];
  LogComposePath(path);
  if (path[0]) OsDeleteFile(path);
  if (s_log.bFileSinkInstalled.exchange(1) == 0) {
    s_log.previousSink.store(s_log.currentSink.load());
    s_log.currentSink.store(FileSink);
  }
}

void LogSetDirectoryForTest(const char* directory) {
  strncpy(s_log.baseDirectory, directory ? directory : "", kPathBytes - 1);
  s_log.baseDirectory[kPathBytes - 1] = 0;
}

void LogResetForTest() {
  s_log.currentSink.store(ConsoleSink);
  s_log.previousSink.store(nullptr);
  s_log.bFileSinkInstalled.store(0);
  s_log.fileName[0] = 0;
  s_log.baseDirectory[0] = 0;
  s_log.directoryCount = 1;
  memset(s_log.directories, 0, sizeof(s_log.directories));
}

LogSink LogExchangeSinkForTest(LogSink sink) { return s_log.currentSink.exchange(sink); }
