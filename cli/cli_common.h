#pragma once
// What every command shares: exit codes, the usage-error line, positions given as frames,
// seconds or timecodes, output names ("-" and suffixes), interruption, and the reason a file
// did not open.

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>

namespace avicli {

inline constexpr int kExitFailed = 1;         // the work failed
inline constexpr int kExitUsage = 2;          // a value out of range; nothing was written
inline constexpr int kExitInterrupted = 130;  // SIGINT/SIGTERM: 128 + SIGINT, as shells report

// Prints "avikit CMD: MESSAGE" on standard error and returns kExitUsage.
int usage_error(const char* command, const std::string& message);
// Prints "avikit CMD: MESSAGE" on standard error and returns kExitFailed.
int failure(const char* command, const std::string& message);

// A position as given on the command line: a frame number ("120"), seconds ("83.5s"), or a
// timecode ("00:01:23:12", ';' before the frames for drop-frame).
struct Position {
  enum class Kind { kFrame, kSeconds, kTimecode } kind = Kind::kFrame;
  std::int64_t frame = 0;
  double seconds = 0.0;
  std::string text;
};
// False (and a message in *why) for text that is none of the three.
bool parse_position(const std::string& text, Position* out, std::string* why);
// The frame a position names at `rate` frames per second; `first` is the absolute frame of
// offset 0 (a timecode names an absolute frame, as the sheet labels it). Nullopt when a
// timecode does not parse at that rate.
std::optional<std::int64_t> position_frame(const Position& p, double rate, std::int64_t first);
// Seconds for `audio --seek`: plain numbers are seconds; a timecode needs `rate` (0: none).
std::optional<double> position_seconds(const Position& p, double rate);

// Strict parse of a whole text as a finite number.
bool parse_number(const std::string& text, double* out);
// Strict integer parse of a whole text.
bool parse_int(const std::string& text, std::int64_t* out);

// True for "-", standard output.
inline bool is_stdout(const std::string& path) { return path == "-"; }
// The lower-case suffix after the last '.' of the file name ("" when none).
std::string suffix_of(const std::string& path);

// SIGINT and SIGTERM set a flag the commands poll between items; a second one ends the process
// at once.
void install_interrupt_handlers();
bool interrupted();

// Progress lines only make sense on a terminal.
bool stderr_is_terminal();

// Why the last open on this thread failed, in a few words ("No such file", "not a RIFF AVI or
// WAVE file", ...), from the library's reason code.
std::string open_failure_reason();

}  // namespace avicli
