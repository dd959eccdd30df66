// Command-line options of qvdelay and qvdelay_headless. Without options the
// program is what it always was: 60 Hz, no participant, the fixed test.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int32_t kMinRateHz = 30, kMaxRateHz = 500;
constexpr float kDefaultMouseScale = 0.1f; // logical units per count: a 1600-DPI mouse crosses 320 units in ~5 cm
constexpr float kMinMouseScale = 0.01f, kMaxMouseScale = 10.0f;
constexpr uint32_t kParticipantMaxChars = 32;

struct AppOptions {
  int32_t rateHz;     // --rate HZ; 0 when not given
  int32_t nativeRate; // --rate native
  float mouseScale;   // --mouse-scale F
  char participant[kParticipantMaxChars + 1]; // --participant NAME; "" when not given
  int32_t threshold;  // --threshold: start straight into a threshold run
  int32_t help;       // --help
  int32_t version;    // --version
};

enum OptionsParse : int32_t {
  kOptionsOk = 0,
  kOptionsBad = 2, // the exit code of a bad command line
};

// The defaults: no rate asked for, mouse scale 0.1, no participant.
void AppOptionsDefault(AppOptions* options);
// Parses argv[first ..] up to the first argument that is not an option (or
// after "--"); *next is its index. kOptionsBad with a one-line message in
// error (unknown option, missing value, value out of range or not a number).
int32_t ParseAppOptions(int argc, char** argv, int first, AppOptions* options, int* next, char* error,
                        uint32_t errorBytes);
// 1 when name is 1..32 letters, digits, '-', '_' or '.'.
int32_t ParticipantNameValid(const char* name);
// The option list for --help; usage is the first line ("usage: ...").
void PrintAppOptionsHelp(FILE* out, const char* usage);

// What a command line asks for, judged before anything is printed (Windows
// first finds a console for the answer).
enum CommandLineVerdict : int32_t {
  kCommandLineRun = 0,
  kCommandLineBad,     // error holds the one line to print
  kCommandLineHelp,
  kCommandLineVersion,
};
// Options, then between minPositional and maxPositional other arguments
// (*first: the first of them). A bad line gets "<program>: ..." (or the
// usage line when arguments are missing) in error.
CommandLineVerdict JudgeCommandLine(int argc, char** argv, const char* program, const char* usage,
                                    int32_t minPositional, int32_t maxPositional, AppOptions* options, int* first,
                                    char* error, uint32_t errorBytes);
// Prints the answer to a verdict: --version or --help to out, a bad line's
// error to err. Returns the exit code, or kOptionsGoOn for kCommandLineRun.
int32_t AnswerCommandLine(CommandLineVerdict verdict, const char* usage, const char* error, FILE* out, FILE* err);

// An entry routine's whole command line: options, then between
// minPositional and maxPositional other arguments (*first: the first of
// them). Returns kOptionsGoOn to run; otherwise the exit code, after
// printing --version or --help to out, or one "<program>: ..." line to err.
// JudgeCommandLine, then AnswerCommandLine.
constexpr int32_t kOptionsGoOn = -1;
int32_t TakeCommandLine(int argc, char** argv, const char* program, const char* usage, int32_t minPositional,
                        int32_t maxPositional, AppOptions* options, int* first, FILE* out, FILE* err);

// The options the running program uses (set by the entry routine before
// AppInitialize; the defaults otherwise).
void AppSetOptions(const AppOptions* options);
const AppOptions* AppGetOptions();
