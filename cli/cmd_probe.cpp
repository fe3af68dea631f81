// avikit probe [--json] [--keyframes] FILE...: what AviFileInfo says about each file, with the
// index facts an archivist checks first (frame and key-frame counts, the exact rate).

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/stream_facts.h"
#include "container/avi_file_info.h"

namespace avicli {
namespace {

using Json = nlohmann::ordered_json;

struct ProbeOptions {
  std::vector<std::string> files;
  bool json = false;
  bool keyframes = false;
};

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

Json probe_json(const std::string& file, int result, const std::uint32_t (&status)[2],
                const AviFileInfo& info, bool keyframes) {
  Json out;
  out["file"] = file;
  out["result"] = result;
  out["status"] = Json::array({status[0], status[1]});
  out["type_name"] = nullable(info.get_type_name());
  out["size"] = static_cast<std::uint64_t>(info.get_file_size());
  out["length"] = seconds(info.get_length());
  out["bit_rate"] = info.get_bit_rate();
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
  if (!j["error"].is_null()) std::printf("error: %s\n", j["error"].get<std::string>().c_str());
  const Json& type = j["type_name"];
  std::printf("type: %s\n", type.is_null() ? "-" : type.get<std::string>().c_str());
  std::printf("size: %llu bytes  length: %.3f s  bit rate: %d kbit/s\n",
              static_cast<unsigned long long>(j["size"].get<std::uint64_t>()),
              j["length"].get<double>(), j["bit_rate"].get<int>());
  for (const Json& v : j["video"]) {
    const Json& codec = v["codec"];
    std::printf("video stream %d: %s, %dx%d, %.3f fps, %.3f s, %d bit/s%s", v["stream"].get<int>(),
                codec.is_null() ? "-" : codec.get<std::string>().c_str(), v["width"].get<int>(),
                v["height"].get<int>(), v["frame_rate"].get<double>(), v["length"].get<double>(),
                v["bit_rate"].get<int>(),
                v["inter_frames"].get<int>() != 0 ? ", inter frames" : ", key frames only");
    if (v.contains("frame_count")) {
      std::printf(", %llu frames (%llu key) at %s",
                  static_cast<unsigned long long>(v["frame_count"].get<std::uint64_t>()),
                  static_cast<unsigned long long>(v["key_frame_count"].get<std::uint64_t>()),
                  v["r_frame_rate"].get<std::string>().c_str());
    }
    std::printf("\n");
  }
  for (const Json& a : j["audio"]) {
    std::printf(
        "audio stream %d: %s, %d ch, %d Hz, %d bit, %d bit/s, %.3f s\n", a["stream"].get<int>(),
        format_name(a["format"].get<int>()), a["channels"].get<int>(), a["sample_rate"].get<int>(),
        a["bits_per_sample"].get<int>(), a["bit_rate"].get<int>(), a["length"].get<double>());
  }
}

int run_probe(const ProbeOptions& options) {
  int code = 0;
  // One file keeps the indented object; several give one object a line, for archive scripts.
  const int indent = options.files.size() == 1 ? 2 : -1;
  for (std::size_t k = 0; k < options.files.size(); ++k) {
    const std::string& file = options.files[k];
    AviFileInfo info;
    std::uint32_t status[2] = {0, 0};
    const int result = info.open(file.c_str(), status);
    const Json j = probe_json(file, result, status, info, options.keyframes);
    if (options.json) {
      // File names and codec texts are byte strings, not necessarily UTF-8.
      std::printf("%s\n", j.dump(indent, ' ', false, Json::error_handler_t::replace).c_str());
    } else {
      if (k > 0) std::printf("\n");
      print_text(j);
    }
    std::fflush(stdout);
    if (result != 0) code = kExitFailed;
  }
  return code;
}

}  // namespace

void add_probe_command(CLI::App& app, ExitStatus& status) {
  auto options = std::make_shared<ProbeOptions>();
  CLI::App* probe = app.add_subcommand("probe", "Describe an AVI or WAVE file and its streams");
  probe->add_flag("--json", options->json,
                  "Print the result as one JSON object (one a line for several files)");
  probe->add_flag("--keyframes", options->keyframes, "List each video stream's key frames");
  probe->add_option("FILE", options->files, "The files to probe")->required();
  probe->callback([options, &status] { status.code = run_probe(*options); });
}

}  // namespace avicli
