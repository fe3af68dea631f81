#pragma once
// The AVI (RIFF) video FOURCC table: which libavcodec codec decodes the pictures a FOURCC names.
// Carried here so that the host library needs libavcodec alone, not libavformat, to pick a codec,
// and reads the table without loading even that; the codec ids are resolved in the codec module
// (avcodec_session.h).

#include <cstdint>
#include <span>

namespace avikit {

namespace hostlib::detail {

struct RiffVideoTag {
  const char* codec;  // libavcodec's codec name (avcodec_get_name)
  std::uint32_t fourcc;
};

// In the order libavformat's own table keeps: an exact FOURCC match takes the first entry.
std::span<const RiffVideoTag> riff_video_tags();

}  // namespace hostlib::detail

}  // namespace avikit
