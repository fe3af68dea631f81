#pragma once
// The AVI (RIFF) video FOURCC table: which libavcodec codec decodes the pictures a FOURCC names.
// Carried here so that the host library needs libavcodec alone, not libavformat, to pick a codec.

#include <cstdint>
#include <span>

namespace hostlib::detail {

struct RiffVideoTag {
  const char* codec;  // libavcodec's codec name (avcodec_get_name)
  std::uint32_t fourcc;
};

// In the order libavformat's own table keeps: an exact FOURCC match takes the first entry.
std::span<const RiffVideoTag> riff_video_tags();
// libavcodec's codec id for the entry (AV_CODEC_ID_NONE, 0, when this libavcodec lacks it).
int riff_tag_codec_id(const RiffVideoTag& tag);
// The codec id for a FOURCC: the first entry naming exactly it, else the first that names it in
// another letter case (ASCII), else 0.
int riff_codec_for_fourcc(std::uint32_t fourcc);

}  // namespace hostlib::detail
