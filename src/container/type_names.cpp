#include "container/type_names.h"

#include <avikit/platform/vfw.h>

#include <cstring>
#include <utility>

#include "container/avi_container.h"
#include "container/fourccs.h"
#include "platform/strings.h"

namespace avikit {

namespace container::detail {

namespace {
constexpr bool begins_with_div(std::uint32_t v) {
  return fourcc_byte(v, 0) == 'd' && fourcc_byte(v, 1) == 'i' && fourcc_byte(v, 2) == 'v';
}
}  // namespace

CodecChoice choose_codec_fourcc(std::uint32_t h, std::uint32_t c) {
  const std::uint32_t dx50 = fourcc("dx50");
  const std::uint32_t divx = fourcc("divx");
  if (h == fourcc("msvc")) {
    // Some writers leave the generic handler and put the real codec in biCompression.
    if (c == dx50) return {divx, true};
    if (begins_with_div(c)) return {c, true};
    return {h, false};
  }
  if (h == 0) {
    if (c == 0) return {0, false};
    if (c == platform::BI_RLE8 || c == platform::BI_RLE4) return {fourcc("rle "), true};
    return {c == dx50 ? divx : c, true};
  }
  if (h == dx50 && c == dx50) return {divx, true};
  return {h, false};
}

const char* audio_type_name_for(std::uint16_t format_tag) {
  switch (format_tag) {
    case platform::WAVE_FORMAT_PCM:
      return kPcmName;
    case platform::WAVE_FORMAT_MPEG:
      return kMpeg12Name;
    case platform::WAVE_FORMAT_MPEGLAYER3:
      return kMpeg3Name;
    case platform::WAVE_FORMAT_DOLBY_AC3:
      return kAc3Name;
    case 2:
      return kMsAdpcmName;
    case 3:
      return kFloatName;
    case 6:
      return kAlawName;
    case 7:
      return kMulawName;
    case 0x11:
      return kImaAdpcmName;
    default:
      return nullptr;
  }
}

}  // namespace container::detail

using namespace container;
using namespace container::detail;

namespace {

// Closes an opened codec instance on every path.
class CodecSession {
 public:
  explicit CodecSession(platform::HIC ic) noexcept : ic_(ic) {}
  ~CodecSession() {
    if (ic_ != nullptr) platform::ICClose(ic_);
  }
  CodecSession(const CodecSession&) = delete;
  CodecSession& operator=(const CodecSession&) = delete;
  platform::HIC get() const { return ic_; }

 private:
  platform::HIC ic_;
};

platform::HIC find_decompressor(std::uint32_t handler, const platform::BITMAPINFOHEADER* format) {
  using namespace platform;
  HIC ic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_DECOMPRESS);
  if (ic != nullptr || format == nullptr || format->biCompression == handler) return ic;
  BITMAPINFOHEADER in = *format;  // The codec manager takes a mutable header.
  ic = ICOpen(ICTYPE_VIDEO, in.biCompression, ICMODE_DECOMPRESS);
  if (ic == nullptr) ic = ICLocate(ICTYPE_VIDEO, handler, &in, nullptr, ICMODE_DECOMPRESS);
  if (ic == nullptr) {
    ic = ICLocate(ICTYPE_VIDEO, in.biCompression, &in, nullptr, ICMODE_DECOMPRESS);
  }
  return ic;
}

int copy_text(char* buffer, const char* text) {
  platform::lstrcpyA(buffer, text);
  return platform::lstrlenA(buffer);
}

}  // namespace

int AviContainer::describe_codec(std::uint32_t handler, const platform::BITMAPINFOHEADER* format,
                                 char* buffer) {
  if (buffer == nullptr) return 0;
  std::memset(buffer, 0, kCodecTextSize);
  if (is_uncompressed_fourcc(handler)) return copy_text(buffer, kUncompressedName);
  CodecSession codec(find_decompressor(handler, format));
  if (codec.get() != nullptr) {
    platform::ICINFO info;
    platform::ICGetInfo(codec.get(), &info, sizeof info);
    int wide_length = 0;
    while (wide_length < kCodecTextSize - 1 && info.szDescription[wide_length] != 0) {
      ++wide_length;
    }
    int n = 0;
    if (wide_length > 0) {
      n = platform::WideCharToMultiByte(platform::CP_ACP, 0, info.szDescription, wide_length,
                                        buffer, kCodecTextSize - 1, nullptr, nullptr);
    }
    if (n < 0 || n >= kCodecTextSize) n = 0;
    buffer[n] = '\0';
    // A DV codec claiming a stream that is not DV would decode it wrongly.
    const std::uint32_t compression = format != nullptr ? lower_fourcc(format->biCompression) : 0;
    if (std::strstr(buffer, "DV") != nullptr && compression != kDvsdLower &&
        compression != fourcc("cdvc")) {
      n = 0;
      buffer[0] = '\0';
    }
    return n;
  }
  const VideoStreamRecord* v = selected_video_record();
  if ((flags_ & AVC_DV_TYPE1) != 0 ||
      (v != nullptr && (v->handler == kDvsdLower || v->handler == kDvsdUpper))) {
    return copy_text(buffer, kDvVideoName);
  }
  return 0;
}

const char* AviContainer::video_type_name() {
  if ((flags_ & AVC_VIDEO_NAME) == 0) name_video_stream();
  return video_type_name_.empty() ? nullptr : video_type_name_.c_str();
}

const char* AviContainer::audio_type_name() {
  if ((flags_ & AVC_AUDIO_NAME) == 0) name_audio_stream();
  return audio_type_name_.empty() ? nullptr : audio_type_name_.c_str();
}

void AviContainer::name_video_stream() {
  flags_ |= AVC_VIDEO_NAME;  // Once per selection, even when no name comes out.
  video_type_name_.clear();
  if (parse_headers() == 0) return;
  VideoStreamRecord* v = selected_video_record();
  if (v == nullptr) return;
  const std::uint32_t c = lower_fourcc(v->format.biCompression);
  const CodecChoice choice = choose_codec_fourcc(lower_fourcc(v->handler), c);
  const std::uint32_t x = choice.fourcc;
  if (choice.rewrite_handler) v->handler = x;
  const std::uint32_t dx50_upper = fourcc("DX50");
  char text[kCodecTextSize] = {};
  int n = describe_codec(x, &v->format, text);
  if (n > 0) {
    if (is_uncompressed_fourcc(x)) {
      const std::string depth = std::to_string(v->format.biBitCount);
      for (char ch : depth) {
        if (n < kCodecTextSize - 1) text[n++] = ch;
      }
      text[n] = '\0';
    } else if (c == fourcc("blz0")) {
      v->format.biCompression = dx50_upper;
    }
  } else {
    const bool mpeg4_family = x == fourcc("xvid") || x == fourcc("blz0") || x == fourcc("dxgm");
    bool try_xvid = x == fourcc("divx");
    if (begins_with_div(c) || mpeg4_family) {
      // Any MPEG-4 part 2 decoder will do for these.
      n = describe_codec(fourcc("divx"), &v->format, text);
      if (n > 0) {
        v->handler = fourcc("divx");
        if (mpeg4_family) v->format.biCompression = dx50_upper;
      }
      try_xvid = n == 0;
    }
    if (n == 0 && !try_xvid) return;
    if (n == 0) {
      v->handler = fourcc("XVID");
      v->format.biCompression = fourcc("XVID");
      n = describe_codec(fourcc("xvid"), &v->format, text);
      if (n == 0) return;
    }
  }
  video_type_name_.assign(text, static_cast<std::size_t>(n));
}

void AviContainer::name_audio_stream() {
  flags_ |= AVC_AUDIO_NAME;
  audio_type_name_.clear();
  if (parse_headers() == 0) return;
  const AudioStreamRecord* a = selected_audio_record();
  if (a == nullptr) return;
  if (const char* name = audio_type_name_for(a->format.wFormatTag)) audio_type_name_ = name;
}

const char* AviContainer::file_type_name() {
  if (is_dv_type1() != 0) return kDvType1TypeName;
  if (video_handler_fourcc() == kDvsdLower) return kDvType2TypeName;
  return kAviFileTypeName;
}

}  // namespace avikit
