// avikit probe [--json] FILE: what AviFileInfo says about a file.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/commands.h"
#include "container/avi_file_info.h"

namespace avicli {
namespace {

using Json = nlohmann::ordered_json;

struct ProbeOptions {
  std::string file;
  bool json = false;
};

Json nullable(const char* s) { return s != nullptr ? Json(s) : Json(nullptr); }

Json probe_json(const std::string& file, int result, const std::uint32_t (&status)[2],
                const AviFileInfo& info) {
  Json out;
  out["file"] = file;
  out["result"] = result;
  out["status"] = Json::array({status[0], status[1]});
  out["type_name"] = nullable(info.get_type_name());
  out["size"] = static_cast<std::uint64_t>(info.get_file_size());
  out["length"] = info.get_length();
  out["bit_rate"] = info.get_bit_rate();
  if (info.index_rebuilt() != 0) out["index"] = "rebuilt";
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

std::string fourcc_text(std::uint32_t v) {
  std::string s;
  for (int k = 0; k < 4; ++k) {
    const auto c = static_cast<char>((v >> (8 * k)) & 0xFF);
    s.push_back(c >= 0x20 && c <= 0x7E ? c : '.');
  }
  return s;
}

const char* format_name(int code) {
  switch (code) {
    case 0:
      return "PCM";
    case 2:
      return "MPEG layer 1/2";
    case 3:
      return "MPEG layer 3";
    case 4:
      return "AC-3";
    default:
      return "?";
  }
}

void print_text(const Json& j) {
  std::printf("file: %s\n", j["file"].get<std::string>().c_str());
  const auto s0 = j["status"][0].get<std::uint32_t>();
  const auto s1 = j["status"][1].get<std::uint32_t>();
  std::printf("result: %d  status: %u", j["result"].get<int>(), s0);
  if (s0 == 11) std::printf(" (no decodable video; handler '%s')", fourcc_text(s1).c_str());
  if (s0 == 12 || s0 == 13) std::printf(" (no decodable audio; format tag 0x%x)", s1);
  std::printf("\n");
  const Json& type = j["type_name"];
  std::printf("type: %s\n", type.is_null() ? "-" : type.get<std::string>().c_str());
  std::printf("size: %llu bytes  length: %.3f s  bit rate: %d kbit/s\n",
              static_cast<unsigned long long>(j["size"].get<std::uint64_t>()),
              j["length"].get<double>(), j["bit_rate"].get<int>());
  for (const Json& v : j["video"]) {
    const Json& codec = v["codec"];
    std::printf("video stream %d: %s, %dx%d, %.3f fps, %.3f s, %d bit/s%s\n",
                v["stream"].get<int>(), codec.is_null() ? "-" : codec.get<std::string>().c_str(),
                v["width"].get<int>(), v["height"].get<int>(), v["frame_rate"].get<double>(),
                v["length"].get<double>(), v["bit_rate"].get<int>(),
                v["inter_frames"].get<int>() != 0 ? ", inter frames" : ", key frames only");
  }
  for (const Json& a : j["audio"]) {
    std::printf(
        "audio stream %d: %s, %d ch, %d Hz, %d bit, %d bit/s, %.3f s\n", a["stream"].get<int>(),
        format_name(a["format"].get<int>()), a["channels"].get<int>(), a["sample_rate"].get<int>(),
        a["bits_per_sample"].get<int>(), a["bit_rate"].get<int>(), a["length"].get<double>());
  }
}

int run_probe(const ProbeOptions& options) {
  AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  const int result = info.open(options.file.c_str(), status);
  const Json j = probe_json(options.file, result, status, info);
  if (options.json) {
    // File names and codec texts are byte strings, not necessarily UTF-8.
    std::printf("%s\n", j.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
  } else {
    print_text(j);
  }
  return result == 0 ? 0 : 1;
}

}  // namespace

void add_probe_command(CLI::App& app, ExitStatus& status) {
  auto options = std::make_shared<ProbeOptions>();
  CLI::App* probe = app.add_subcommand("probe", "Describe an AVI or WAVE file and its streams");
  probe->add_flag("--json", options->json, "Print the result as one JSON object");
  probe->add_option("FILE", options->file, "The file to probe")->required();
  probe->callback([options, &status] { status.code = run_probe(*options); });
}

}  // namespace avicli
