#include "cli/probe_json.h"

#include <cstdint>

#include "container/avi_file_info.h"

namespace avicli {
namespace {

Json nullable(const char* s) { return s != nullptr ? Json(s) : Json(nullptr); }

}  // namespace

Json probe_json(const std::string& file) {
  AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  const int result = info.open(file.c_str(), status);
  Json out;
  out["file"] = file;
  out["result"] = result;
  out["status"] = Json::array({status[0], status[1]});
  out["type_name"] = nullable(info.get_type_name());
  out["size"] = static_cast<std::uint64_t>(info.get_file_size());
  out["length"] = info.get_length();
  out["bit_rate"] = info.get_bit_rate();
  Json video = Json::array();
  int video_count = 0;
  const VideoInfo* v = info.get_video_info(video_count);
  char** names = info.get_video_type_name();
  for (int i = 0; v != nullptr && i < video_count; ++i) {
    video.push_back(Json{{"stream", v[i].stream},
                         {"codec", nullable(names != nullptr ? names[i] : nullptr)},
                         {"width", v[i].width},
                         {"height", v[i].height},
                         {"frame_rate", v[i].frame_rate},
                         {"length", v[i].length},
                         {"bit_rate", v[i].bit_rate},
                         {"inter_frames", v[i].inter_frames != 0 ? 1 : 0}});
  }
  out["video"] = std::move(video);
  Json audio = Json::array();
  int audio_count = 0;
  const AudioInfo* a = info.get_audio_info(audio_count);
  for (int i = 0; a != nullptr && i < audio_count; ++i) {
    audio.push_back(Json{{"stream", a[i].stream},
                         {"format", a[i].format},
                         {"channels", a[i].channels},
                         {"sample_rate", a[i].sample_rate},
                         {"bit_rate", a[i].bit_rate},
                         {"bits_per_sample", a[i].bits_per_sample},
                         {"length", a[i].length},
                         {"source_channels", a[i].source_channels}});
  }
  out["audio"] = std::move(audio);
  return out;
}

}  // namespace avicli
