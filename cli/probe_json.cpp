#include "cli/probe_json.h"

#include <avikit/avi_file_info.h>

#include <charconv>
#include <cmath>
#include <cstdint>

#include "cli/cli_common.h"
#include "cli/stream_facts.h"

using namespace avikit;

namespace avicli {
namespace {

Json nullable(const char* s) { return s != nullptr ? Json(s) : Json(nullptr); }

// Seconds to the microsecond: lengths come from single-precision rates, and their last digits
// are noise (10.01, not 10.010000046458563).
Json seconds(double v) { return std::isfinite(v) ? std::round(v * 1e6) / 1e6 : 0.0; }

// A single-precision figure as the shortest decimal that reads back as the same float.
Json single(double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, static_cast<float>(v));
  return std::stod(std::string(text, r.ptr));
}

void add_index_facts(const std::string& file, int stream, bool keyframes, Json& video) {
  VideoFacts f;
  if (!read_video_facts(file, stream, keyframes, &f)) return;
  video["frame_count"] = f.frame_count;
  video["r_frame_rate"] = rate_fraction(f.rate, f.scale);
  video["key_frame_count"] = f.key_frame_count;
  if (keyframes) video["key_frames"] = f.key_frames;
  video["fourcc"] = fourcc_string(f.codec_tag);
}

}  // namespace

Json probe_json(const std::string& file, bool keyframes) {
  AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  const int result = info.open(file.c_str(), status);
  Json out;
  out["file"] = file;
  out["result"] = result;
  out["status"] = Json::array({status[0], status[1]});
  out["type_name"] = nullable(info.get_type_name());
  out["size"] = static_cast<std::uint64_t>(info.get_file_size());
  out["length"] = seconds(info.get_length());
  out["bit_rate"] = info.get_bit_rate();
  if (info.index_rebuilt() != 0) out["index"] = "rebuilt";
  Json video = Json::array();
  int video_count = 0;
  const VideoInfo* v = info.get_video_info(video_count);
  char** names = info.get_video_type_name();
  for (int i = 0; v != nullptr && i < video_count; ++i) {
    Json entry{{"stream", v[i].stream},
               {"codec", nullable(names != nullptr ? names[i] : nullptr)},
               {"width", v[i].width},
               {"height", v[i].height},
               {"frame_rate", single(v[i].frame_rate)},
               {"length", seconds(v[i].length)},
               {"bit_rate", v[i].bit_rate},
               {"inter_frames", v[i].inter_frames != 0 ? 1 : 0}};
    add_index_facts(file, v[i].stream, keyframes, entry);
    video.push_back(std::move(entry));
  }
  out["video"] = std::move(video);
  Json audio = Json::array();
  int audio_count = 0;
  const AudioInfo* a = info.get_audio_info(audio_count);
  for (int i = 0; a != nullptr && i < audio_count; ++i) {
    audio.push_back(
        Json{{"stream", a[i].stream},
             {"format", a[i].format},
             {"channels", a[i].channels},
             {"sample_rate", a[i].sample_rate},
             {"bit_rate", a[i].bit_rate},
             {"bits_per_sample", a[i].bits_per_sample},
             {"length", seconds(a[i].length)},
             // The probe names the real count only where it reports fewer.
             {"source_channels", a[i].source_channels > 0 ? a[i].source_channels : a[i].channels}});
  }
  out["audio"] = std::move(audio);
  out["error"] = result != 0 ? Json(open_failure_reason()) : Json(nullptr);
  return out;
}

}  // namespace avicli
