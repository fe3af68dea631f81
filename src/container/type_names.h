#pragma once
// Names of what the module plays: the file type name, the video type name (the description of
// the Video for Windows codec that would decode the selected video stream; empty means "cannot
// be decoded") and the audio type name. The naming members live in AviContainer; the choice of
// which codec to describe is a pure function so it can be checked on its own.

#include <cstdint>

namespace avikit::container {

inline constexpr const char kAviFileTypeName[] = "Microsoft Audio/Video Interleaved File";
inline constexpr const char kDvType1TypeName[] = "Microsoft DV-Type 1";
inline constexpr const char kDvType2TypeName[] = "Microsoft DV-Type 2";
inline constexpr const char kUncompressedName[] = "Uncompressed RGB";
inline constexpr const char kDvVideoName[] = "DV Video";
inline constexpr const char kPcmName[] = "Wave Format PCM";
inline constexpr const char kMpeg12Name[] = "MPEG Layer-1/2";
inline constexpr const char kMpeg3Name[] = "MPEG Layer-3";
inline constexpr const char kAc3Name[] = "Dolby AC-3";
// Further formats the player decodes, named after their RIFF registry entries.
inline constexpr const char kMsAdpcmName[] = "Microsoft ADPCM";
inline constexpr const char kFloatName[] = "IEEE Float";
inline constexpr const char kAlawName[] = "A-Law";
inline constexpr const char kMulawName[] = "u-Law";
inline constexpr const char kImaAdpcmName[] = "IMA ADPCM";

inline constexpr int kCodecTextSize = 128;  // description buffer, NUL included

namespace detail {

// Which FOURCC to ask the codec manager about for a stream, from its lowered handler and lowered
// biCompression; `rewrite_handler` says the stream's handler becomes that FOURCC.
struct CodecChoice {
  std::uint32_t fourcc = 0;
  bool rewrite_handler = false;
};
CodecChoice choose_codec_fourcc(std::uint32_t lowered_handler, std::uint32_t lowered_compression);

// The audio type name for a wFormatTag, or nullptr.
const char* audio_type_name_for(std::uint16_t format_tag);

}  // namespace detail
}  // namespace avikit::container
