#pragma once
// SMPTE 12M timecodes: frame numbers <-> "HH:MM:SS:FF" at any frame rate from 5 to 60 frames
// per second, with drop-frame counting at 29.97 and 59.94.
//
// A timecode counts nominal frames: the rate rounded to the nearest integer (23.976 counts 24 a
// second, 29.97 counts 30). Drop-frame skips the labels 00 and 01 (00 to 03 at 59.94) of the
// first second of every minute not divisible by ten, so that the labels keep pace with the clock.
// It applies only at 29.97 and 59.94 and is written with ';' before the frames; at any other
// rate the flag is ignored.
//
// String forms (get_string):
//   mode 0: "HH:MM:SS:FF" ("HH:MM:SS;FF" for drop-frame); hours grow past 99 if they must.
//   mode 1: the short clock form, frames left out: "M:SS", or "H:MM:SS" from one hour on.
// set_string reads either form, and ':' ';' or '.' as separators; ';' before the frames asks for
// drop-frame. The buffer given to get_string must hold at least kTimecodeBufferSize bytes.

namespace avikit {

inline constexpr int kTimecodeBufferSize = 16;

class SMPTE_TimeCode {
 public:
  SMPTE_TimeCode();

  // Rates outside 5..60 (and NaN) are refused and leave the rate as it was (initially 25).
  int set_frame_rate(double rate);
  double get_frame_rate() const { return rate_; }
  // Non-zero asks for drop-frame labels (only honoured at 29.97 and 59.94). Default 0.
  void set_drop_frame_flag(int drop);
  int get_drop_frame_flag() const { return drop_ ? 1 : 0; }

  // Parses a timecode; 1 on success, 0 (frame unchanged) for text that is not one: null, a field
  // out of range (minutes or seconds above 59, frames at or above the nominal rate), a dropped
  // label, or too many digits.
  int set_string(const char* text);
  void set_frame(int frame);        // negative frames count as 0
  void set_second(double seconds);  // rounded to the nearest frame; NaN and negatives give 0
  int get_frame() const { return frame_; }
  double get_second() const { return frame_ / rate_; }
  // Writes the timecode in the given mode and returns buffer (null for a null buffer).
  char* get_string(char* buffer, int mode) const;

 private:
  bool drop_frame_active() const;
  int nominal_rate() const;

  double rate_;
  bool drop_;
  int frame_;
};

}  // namespace avikit
