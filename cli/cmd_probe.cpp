// avikit probe [--json] [--keyframes] FILE...: what AviFileInfo says about each file, with the
// index facts an archivist checks first (frame and key-frame counts, the exact rate).

#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/probe_json.h"
#include "container/fourccs.h"

using namespace avikit;

namespace avicli {
namespace {

struct ProbeOptions {
  std::vector<std::string> files;
  bool json = false;
  bool keyframes = false;
};

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
  if (s0 == 11)
    std::printf(" (no decodable video; handler '%s')", container::fourcc_text(s1).c_str());
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
    const Json j = probe_json(file, options.keyframes);
    const int result = j["result"].get<int>();
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
