// How zgl puts text on its standard streams: each line, or each block of lines, in one write
// that is flushed at once. A console sees every line as soon as it is complete, and no
// runtime takes a line apart: the Windows C runtime leaves a stream unbuffered when it is a
// character device (the console, NUL) and would otherwise make one system call per character.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace zemlo::console {

// Gives stdout and stderr a buffer where the runtime would leave them without one, so that a
// flush is one write. Called once, before anything is written.
void BufferStandardStreams();

// Writes `text` as it is in one piece and flushes it; false when it could not all be written.
bool PrintText(std::FILE* stream, std::string_view text);

// Whatever writes to stdout (PrintText, the help and version texts through std::cout) may
// fail: a full disk, a pipe whose reader went away. Nothing else notices, so the end of the
// program asks here. Flushes stdout and std::cout; when any write to stdout failed, says
// "zgl: standard output: <reason>" on stderr (as far as stderr still takes it) and gives
// kExitWarned for a `status` of kExitOk; any other status stands.
[[nodiscard]] int FinishStandardOutput(int status);

// `line` and a line end, in one piece.
inline bool PrintLine(std::FILE* stream, std::string_view line) {
  std::string whole;
  whole.reserve(line.size() + 1);
  whole.append(line);
  whole.push_back('\n');
  return PrintText(stream, whole);
}

}  // namespace zemlo::console
