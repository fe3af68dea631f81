#include "container/stream_access.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "container/avi_container.h"
#include "container/fourccs.h"

namespace avikit {

namespace container::detail {

std::int32_t truncate_to_int(double v) {
  // The host records hold 32-bit integers; a NaN or an out-of-range figure from a damaged
  // header must not become undefined behaviour.
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

std::int32_t audio_format_code(std::uint16_t format_tag) {
  switch (format_tag) {
    case platform::WAVE_FORMAT_PCM:
      return kAudioFormatPcm;
    case platform::WAVE_FORMAT_MPEG:
      return kAudioFormatMpeg12;
    case platform::WAVE_FORMAT_MPEGLAYER3:
      return kAudioFormatMpeg3;
    case platform::WAVE_FORMAT_DOLBY_AC3:
      return kAudioFormatAc3;
    default:
      return -1;
  }
}

}  // namespace container::detail

using namespace container;
using namespace container::detail;

VideoStreamRecord* AviContainer::selected_video_record() {
  return stream_table_ ? streams_.selected_video_record() : nullptr;
}

AudioStreamRecord* AviContainer::selected_audio_record() {
  return stream_table_ ? streams_.selected_audio_record() : nullptr;
}

std::uint64_t AviContainer::file_size() {
  return parse_headers() != 0 ? stream_table_->file_size : 0;
}

int AviContainer::is_dv_type1() {
  return parse_headers() != 0 && (flags_ & AVC_DV_TYPE1) != 0 ? 1 : 0;
}

int AviContainer::is_dv() {
  if (parse_headers() == 0) return 0;
  if ((flags_ & AVC_DV_TYPE1) != 0) return 1;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr && (v->handler == kDvsdLower || v->handler == kDvsdUpper) ? 1 : 0;
}

std::uint32_t AviContainer::stream_kind(std::int32_t stream) {
  if (parse_headers() == 0 || stream < 0) return 0;
  const auto wanted = static_cast<std::uint32_t>(stream);
  const auto& video = streams_.video;
  for (std::size_t i = 0; i < video.size(); ++i) {
    if (video[i].stream == wanted) return 0x760000u | (static_cast<std::uint32_t>(i) & 0xFFFFu);
  }
  const auto& audio = streams_.audio;
  for (std::size_t i = 0; i < audio.size(); ++i) {
    if (audio[i].stream == wanted) return 0x610000u | (static_cast<std::uint32_t>(i) & 0xFFFFu);
  }
  return 0;
}

int AviContainer::video_stream_count() {
  return parse_headers() != 0 ? static_cast<int>(streams_.video.size()) : 0;
}

int AviContainer::selected_video_stream_number() {
  if (parse_headers() == 0) return -1;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? static_cast<int>(v->stream) : -1;
}

std::uint32_t AviContainer::video_handler_fourcc() {
  if (parse_headers() == 0) return 0;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? v->handler : 0;
}

const platform::BITMAPINFOHEADER* AviContainer::video_format() {
  if (parse_headers() == 0) return nullptr;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? &v->format : nullptr;
}

std::uint32_t AviContainer::frame_count() {
  if (parse_headers() == 0) return 0;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? v->frame_count : 0;
}

float AviContainer::frame_rate() {
  if (parse_headers() == 0) return 0.0f;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? v->frame_rate : 0.0f;
}

std::pair<std::uint32_t, std::uint32_t> AviContainer::frame_rate_ratio() {
  if (parse_headers() == 0) return {0, 0};
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? std::pair{v->rate, v->scale} : std::pair<std::uint32_t, std::uint32_t>{};
}

float AviContainer::video_bit_rate() {
  if (load_index() == 0) return 0.0f;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? v->bit_rate : 0.0f;
}

int AviContainer::has_inter_frames() {
  if (load_index() == 0) return 0;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr && v->key_frame_distance != 1 ? 1 : 0;
}

std::pair<std::uint64_t, std::uint64_t> AviContainer::video_index_counts() {
  if (load_index() == 0) return {};
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? std::pair{v->indexed, v->indexed_keys}
                      : std::pair<std::uint64_t, std::uint64_t>{};
}

std::uint32_t AviContainer::largest_video_chunk() {
  if ((flags_ & AVC_OPENED) == 0) return 0;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? v->largest_chunk : 0;
}

std::uint32_t AviContainer::full_format_flag() {
  if ((flags_ & AVC_OPENED) == 0) return 0;
  const VideoStreamRecord* v = selected_video_record();
  return v != nullptr ? v->full_format : 0;
}

int AviContainer::audio_stream_count() {
  return parse_headers() != 0 ? static_cast<int>(streams_.audio.size()) : 0;
}

int AviContainer::selected_audio_stream_number() {
  if (parse_headers() == 0) return -1;
  const AudioStreamRecord* a = selected_audio_record();
  return a != nullptr ? static_cast<int>(a->stream) : -1;
}

const platform::WAVEFORMATEX* AviContainer::audio_format() {
  if (parse_headers() == 0) return nullptr;
  const AudioStreamRecord* a = selected_audio_record();
  return a != nullptr ? &a->format : nullptr;
}

float AviContainer::audio_bit_rate() {
  if (load_index() == 0) return 0.0f;
  const AudioStreamRecord* a = selected_audio_record();
  return a != nullptr ? a->bit_rate : 0.0f;
}

double AviContainer::audio_length() {
  if (load_index() == 0) return 0.0;
  const AudioStreamRecord* a = selected_audio_record();
  return a != nullptr ? a->length : 0.0;
}

const AudioStreamRecord* AviContainer::audio_record() {
  return load_index() != 0 ? selected_audio_record() : nullptr;
}

std::uint32_t AviContainer::read_entries(const std::vector<IndexEntry>& entries,
                                         std::uint8_t* buffer, std::uint32_t count) {
  FileLease lease(*this);
  if (!lease.ok()) return 0;
  std::uint32_t delivered = 0;
  for (const IndexEntry& e : entries) {
    if (delivered >= count) break;
    const std::uint32_t want = std::min(e.size, count - delivered);
    delivered += read_at(e.position, buffer + delivered, want);
  }
  return delivered;
}

std::uint32_t AviContainer::short_chunk_flag() {
  if (load_index() == 0) return 0;
  const AudioStreamRecord* a = selected_audio_record();
  return a != nullptr ? a->short_chunk : 0;
}

double AviContainer::audio_start() {
  const AudioStreamRecord* a = selected_audio_record();
  if (a == nullptr || !(a->start > 0.0)) return 0.0;
  // A start beyond the end of every stream is damage, not a delay: it would only ever give
  // silence.
  double longest = a->length;
  const VideoStreamRecord* v = selected_video_record();
  if (v != nullptr && v->frame_rate > 0.0f) {
    longest = std::max(longest, static_cast<double>(v->frame_count) / v->frame_rate);
  }
  return a->start <= longest ? a->start : 0.0;
}

int AviContainer::video_stream_numbers(std::uint32_t* list, int maximum) {
  if (list == nullptr || maximum <= 0 || parse_headers() == 0) return 0;
  int n = 0;
  for (const VideoStreamRecord& v : streams_.video) {
    if (n == maximum) break;
    list[n++] = v.stream;
  }
  return n;
}

int AviContainer::audio_stream_numbers(std::uint32_t* list, int maximum) {
  if (list == nullptr || maximum <= 0 || parse_headers() == 0) return 0;
  int n = 0;
  for (const AudioStreamRecord& a : streams_.audio) {
    if (n == maximum) break;
    list[n++] = a.stream;
  }
  return n;
}

int AviContainer::select_video_stream(int stream) {
  if ((flags_ & AVC_HEADERS) == 0 || !stream_table_ || streams_.video.empty()) return 0;
  if (selected_video_record()->stream == static_cast<std::uint32_t>(stream) && stream >= 0) {
    return 1;
  }
  const auto& video = streams_.video;
  for (std::size_t i = 0; i < video.size(); ++i) {
    if (stream < 0 || video[i].stream != static_cast<std::uint32_t>(stream)) continue;
    const bool was_indexed = (flags_ & AVC_INDEXED) != 0;
    streams_.selected_video = static_cast<std::uint32_t>(i);
    flags_ &= ~(AVC_VIDEO_NAME | AVC_INDEXED);
    video_type_name_.clear();
    return was_indexed ? load_index() : 1;
  }
  return 0;
}

int AviContainer::select_audio_stream(int stream) {
  if ((flags_ & AVC_HEADERS) == 0 || !stream_table_ || streams_.audio.empty()) return 0;
  if (selected_audio_record()->stream == static_cast<std::uint32_t>(stream) && stream >= 0) {
    return 1;
  }
  const auto& audio = streams_.audio;
  for (std::size_t i = 0; i < audio.size(); ++i) {
    if (stream < 0 || audio[i].stream != static_cast<std::uint32_t>(stream)) continue;
    const bool was_indexed = (flags_ & AVC_INDEXED) != 0;
    streams_.selected_audio = static_cast<std::uint32_t>(i);
    flags_ &= ~(AVC_AUDIO_NAME | AVC_INDEXED);
    audio_type_name_.clear();
    return was_indexed ? load_index() : 1;
  }
  return 0;
}

void AviContainer::describe_video_stream(VideoInfo& info) {
  const platform::BITMAPINFOHEADER* format = video_format();
  const double rate = frame_rate();
  info.kind = 10;
  info.inter_frames = has_inter_frames();
  info.bit_rate = truncate_to_int(static_cast<double>(video_bit_rate()) * 1000.0);
  info.frame_rate = rate;
  info.width = format != nullptr ? format->biWidth : 0;
  // A negative height marks a top-down picture; the picture is as high as its magnitude.
  info.height = format != nullptr && format->biHeight != INT32_MIN
                    ? (format->biHeight < 0 ? -format->biHeight : format->biHeight)
                    : 0;
  info.stream = selected_video_stream_number();
  info.length = rate > 0.0 ? frame_count() / rate : 0.0;
}

void AviContainer::describe_audio_stream(AudioInfo& info) {
  const platform::WAVEFORMATEX* format = audio_format();
  if (format == nullptr) return;
  const platform::WAVEFORMATEX f = *format;
  info.kind = 16;
  const std::int32_t code = audio_format_code(f.wFormatTag);
  if (code >= 0) info.format = code;
  info.channels = f.nChannels;
  if (code == kAudioFormatAc3) {
    if (f.nChannels > 2) info.channels = 2;
    info.source_channels = f.nChannels;
  }
  info.sample_rate = static_cast<std::int32_t>(f.nSamplesPerSec);
  info.bit_rate = truncate_to_int(static_cast<double>(audio_bit_rate()) * 1000.0);
  info.bits_per_sample = f.wBitsPerSample != 0 ? f.wBitsPerSample : 16;
  info.block_bytes = info.bits_per_sample * 1152 / 8;
  info.stream = selected_audio_stream_number();
  info.length = audio_length();
}

}  // namespace avikit
