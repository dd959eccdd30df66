// The folder for app_log.txt and qvdelay_results.csv. The program works in
// that folder, so the log and the record are found by their plain names.
//
// Beside the executable when that folder is writable (a build tree, an
// unpacked archive). Otherwise (an installed program, /usr/bin) the user's
// state folder after the XDG base directory rules: $XDG_STATE_HOME/qvdelay/
// when that variable holds an absolute path, else $HOME/.local/state/qvdelay/.
#pragma once

#include <cstdint>

// executableDirectory ends with a separator; xdgStateHome and home are the
// environment's values (null when unset). Writes the folder, with a trailing
// '/', to out. 0 when a folder was chosen; 1 when none fits (no usable
// variable, or out is too small).
int32_t DataDirectoryChoose(const char* executableDirectory, int32_t executableDirectoryWritable,
                            const char* xdgStateHome, const char* home, char* out, uint32_t size);
