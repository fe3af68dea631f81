// avikit dv-decode [--system 625|525] IN OUT
//
// IN holds whole compressed DV frames back to back (144000 bytes each for 625/50, 120000 for
// 525/60). OUT receives the decoded pictures back to back, each exactly what dv_decode_frame
// writes: 720 x 3 bytes a line (blue, green, red), bottom line first, 576 or 480 lines.
// Without --system the system is read from the first frame's header DIF block. "-" stands for
// standard input or output.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "dv/frame_decoder.h"

using namespace avikit;

namespace avicli {
namespace {

struct DvDecodeOptions {
  std::string in;
  std::string out;
  int system = 0;  // 0: from the first frame's header
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != stdin && f != stdout) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_file(const std::string& path, bool write) {
  if (path == "-") return File(write ? stdout : stdin);
  return File(std::fopen(path.c_str(), write ? "wb" : "rb"));
}

int run_dv_decode(const DvDecodeOptions& o) {
  File in = open_file(o.in, false);
  if (!in) {
    std::fprintf(stderr, "avikit dv-decode: cannot open %s\n", o.in.c_str());
    return 1;
  }
  // Read the first frame at the larger size; a 525/60 frame uses the first 120000 bytes.
  std::vector<std::uint8_t> frame(dv::kFrameBytes625);
  std::size_t have = std::fread(frame.data(), 1, dv::kFrameBytes525, in.get());
  bool is625 = o.system == 625;
  if (o.system == 0 && !dv::read_system_from_header({frame.data(), have}, &is625)) {
    std::fprintf(stderr,
                 "avikit dv-decode: %s does not start with a DV header block; give --system\n",
                 o.in.c_str());
    return 1;
  }
  const dv::PictureFormat f = dv::picture_format(is625);
  if (have == dv::kFrameBytes525 && is625) {
    have += std::fread(frame.data() + have, 1, f.frame_bytes - have, in.get());
  }
  if (have < f.frame_bytes) {
    std::fprintf(stderr, "avikit dv-decode: %s holds no whole %s frame (%zu bytes)\n", o.in.c_str(),
                 is625 ? "625/50" : "525/60", have);
    return 1;
  }
  File out = open_file(o.out, true);
  if (!out) {
    std::fprintf(stderr, "avikit dv-decode: cannot create %s\n", o.out.c_str());
    return 1;
  }
  dv::Decoder decoder;
  std::vector<std::uint8_t> picture(f.bgr_bytes);
  if (!decoder.valid()) {
    std::fprintf(stderr, "avikit dv-decode: out of memory\n");
    return 1;
  }
  std::size_t frames = 0;
  while (have == f.frame_bytes) {
    if (!decoder.decode({frame.data(), f.frame_bytes}, is625, picture) ||
        std::fwrite(picture.data(), 1, picture.size(), out.get()) != picture.size()) {
      std::fprintf(stderr, "avikit dv-decode: cannot write %s\n", o.out.c_str());
      return 1;
    }
    ++frames;
    have = std::fread(frame.data(), 1, f.frame_bytes, in.get());
  }
  if (std::fflush(out.get()) != 0) {
    std::fprintf(stderr, "avikit dv-decode: cannot write %s\n", o.out.c_str());
    return 1;
  }
  if (have != 0) {
    std::fprintf(stderr, "avikit dv-decode: ignored %zu trailing bytes (not a whole frame)\n",
                 have);
  }
  std::fprintf(stderr, "avikit dv-decode: %zu %s frames\n", frames, is625 ? "625/50" : "525/60");
  return 0;
}

}  // namespace

void add_dv_decode_command(CLI::App& app, ExitStatus& status) {
  auto opts = std::make_shared<DvDecodeOptions>();
  CLI::App* cmd = app.add_subcommand(
      "dv-decode", "Decode raw DV frames into bottom-up 24-bit BGR pictures (720 wide)");
  cmd->add_option("--system", opts->system,
                  "625 (625/50, 144000-byte frames) or 525 (525/60, 120000-byte frames); "
                  "default: from the first frame's header block")
      ->check(CLI::IsMember({525, 625}));
  cmd->add_option("IN", opts->in, "compressed DV frames back to back (- for standard input)")
      ->required();
  cmd->add_option("OUT", opts->out, "decoded pictures back to back (- for standard output)")
      ->required();
  cmd->callback([opts, &status] { status.code = run_dv_decode(*opts); });
}

}  // namespace avicli
