#pragma once
// Why the last open() of AviFileInfo, AviVideoPlayer or AviAudioPlayer on this thread failed.
//
// The exported open() calls keep their results (1 on failure, or the probe's status code); a host
// that wants to tell its user why asks here right after the failed call, on the same thread:
//
//   AviVideoPlayer p;
//   if (p.open(name, -1) != 0)
//     show(avi_last_open_error(), avi_last_open_error_message());  // "Permission denied"
//
// A successful open clears the reason (kNone, ""). The message is valid until the next open on
// the thread.

#include <cstdint>

namespace avikit {

enum class AviOpenError : std::int32_t {
  kNone = 0,
  kNoName = 1,        // a null name
  kNotFound = 2,      // no such file
  kIsDirectory = 3,   // the name is a directory
  kPermission = 4,    // no read permission
  kUnreadable = 5,    // any other system error opening or reading it
  kEmpty = 6,         // 0 bytes
  kNotRiff = 7,       // not a RIFF AVI or WAVE file
  kTruncated = 8,     // the file ends inside its headers; the message says where
  kBadHeader = 9,     // a RIFF AVI or WAVE file whose headers are not where they must be
  kNoIndex = 10,      // headers read, but the streams could not be indexed
  kNoVideo = 11,      // no (such) video stream
  kNoAudio = 12,      // no (such) audio stream
  kUndecodable = 13,  // streams of the kind exist but none can be decoded
  kOutOfMemory = 14,
};

AviOpenError avi_last_open_error();
const char* avi_last_open_error_message();  // "" when the last open succeeded

}  // namespace avikit
