#pragma once
// Media made by the ffmpeg command-line tool at test time, cached under the temp folder so that
// the test processes of one run make each file once, and a small reader for the video chunks of
// the AVI files it writes.

#include <cstdint>
#include <string>
#include <vector>

#include "hostlib/codec_walk.h"
#include "support/avi_builder.h"

using namespace avikit;

namespace hostlib_test {

// Runs `ffmpeg -v error -y <args> <file>` once and returns the file's path; empty on failure.
// The name must carry the extension that picks the output format.
std::string ffmpeg_file(const std::string& name, const std::string& args);

// The video stream of an AVI file as the codec manager sees it.
struct AviVideo {
  std::string format;               // strf: BITMAPINFOHEADER and codec data
  std::uint32_t handler = 0;        // strh fccHandler
  std::vector<std::string> chunks;  // in index order
  std::vector<bool> keys;           // idx1 AVIIF_KEYFRAME per chunk
};
bool read_avi_video(const std::string& path, AviVideo& out);

// Raw frames of a file's first video stream as the ffmpeg tool decodes it, in display order,
// every picture once (no frame-rate filling): width x height 4:2:0 frames back to back, in
// `pixel_format` (yuv420p, or yuvj420p to keep a full-range decoder's own samples).
std::vector<std::string> reference_frames(const std::string& path, int width, int height,
                                          const std::string& pixel_format = "yuv420p");

// An output format the driver offers: YV12 (12 bits), YUY2 (16) or bottom-up RGB (24).
platform::BITMAPINFOHEADER output_format(int bits, int width = 176, int height = 144);

// A reference frame from reference_frames (any size) in the driver's YV12 layout: Y, V, U, rows
// padded to 4 (Y) and 2 as a fresh bitmap has them.
std::string as_yv12(const std::string& i420, int w, int h);

// A reference frame converted by libswscale as the driver converts: to YUY2, or to bottom-up
// 24-bit rows; empty when libswscale cannot.
std::string converted(const std::string& i420, int w, int h, bool rgb, bool full_range);

// The four bytes at `p`, least significant first.
inline std::uint32_t le32(const char* p) { return avitest::fourcc_value(p); }

}  // namespace hostlib_test
