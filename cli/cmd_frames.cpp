// avikit frames FILE [--stream N] [--start OFFSET] [--count K] [--step S] [--keyframes]
//                    [--reverse] [--trim FIRST:LAST] [--at LIST] [--quiet] -o OUT
//
// Plays FILE through AviVideoPlayer and writes the frames it hands out. The player is opened
// with stream N (-1: the file's first video stream); --reverse calls set_reverse(1), --trim
// trim(FIRST, LAST), --keyframes set_fast_speed(1), in that order. Then either seek(OFFSET, 1)
// and K times: emit the frame, forward(S); or, with --at 5,100,42, seek(offset, 1) for each
// listed offset and emit the frame. To emit is to take get_frame_dib_data(): exactly
// get_frame_dib_pitch() x height bytes of bottom-up 24-bit rows.
// OUT ending in .raw receives the emitted frames back to back; OUT holding a printf-style %d
// (f%04d.png) receives one top-down RGB PNG per frame, numbered from 0 in the order emitted.

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/image_out.h"
#include "platform/win_types.h"
#include "video/avi_video_player.h"

namespace avicli {
namespace {

struct FramesOptions {
  std::string file;
  std::string out;
  int stream = -1;
  int start = 0;
  int count = 1;
  int step = 1;
  bool keyframes = false;
  bool reverse = false;
  std::string trim;  // FIRST:LAST
  std::string at;    // 5,100,42
  bool quiet = false;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool parse_int(const std::string& text, int* out) {
  try {
    std::size_t used = 0;
    const int v = std::stoi(text, &used);
    if (used != text.size()) return false;
    *out = v;
    return true;
  } catch (...) {
    return false;
  }
}

bool parse_list(const std::string& text, std::vector<int>* out) {
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    int v = 0;
    if (!parse_int(item, &v)) return false;
    out->push_back(v);
  }
  return !out->empty();
}

// Where emitted frames go: one raw file, or one PNG per frame.
class FrameSink {
 public:
  bool open(const std::string& pattern) {
    pattern_ = pattern;
    if (ends_with(pattern, ".raw")) {
      raw_.reset(std::fopen(pattern.c_str(), "wb"));
      return raw_ != nullptr;
    }
    std::string probe;
    return format_frame_path(pattern, 0, &probe);
  }

  bool emit(AviVideoPlayer& player) {
    const char* pixels = player.get_frame_dib_data();
    const auto* header =
        static_cast<const platform::BITMAPINFOHEADER*>(player.get_frame_dib_header());
    const int pitch = player.get_frame_dib_pitch();
    if (pixels == nullptr || header == nullptr || pitch <= 0 || header->biHeight <= 0) return false;
    const auto bytes = static_cast<std::size_t>(pitch) * static_cast<std::size_t>(header->biHeight);
    const int number = emitted_++;
    if (raw_) return std::fwrite(pixels, 1, bytes, raw_.get()) == bytes;
    std::string path;
    return format_frame_path(pattern_, number, &path) &&
           write_png_from_bgr(path, reinterpret_cast<const std::uint8_t*>(pixels), header->biWidth,
                              header->biHeight, static_cast<std::size_t>(pitch), true);
  }

  bool finish() { return !raw_ || std::fflush(raw_.get()) == 0; }
  int emitted() const { return emitted_; }

 private:
  std::string pattern_;
  std::unique_ptr<std::FILE, FileCloser> raw_;
  int emitted_ = 0;
};

void progress(const FramesOptions& o, int done, int total) {
  if (o.quiet || total < 50 || (done % 25 != 0 && done != total)) return;
  std::fprintf(stderr, "\ravikit frames: %d/%d", done, total);
  if (done == total) std::fprintf(stderr, "\n");
}

int run_frames(const FramesOptions& o) {
  int first = 0;
  int last = 0;
  const std::size_t colon = o.trim.find(':');
  if (!o.trim.empty() &&
      (colon == std::string::npos || !parse_int(o.trim.substr(0, colon), &first) ||
       !parse_int(o.trim.substr(colon + 1), &last))) {
    std::fprintf(stderr, "avikit frames: --trim wants FIRST:LAST, not %s\n", o.trim.c_str());
    return 1;
  }
  std::vector<int> offsets;
  if (!o.at.empty() && !parse_list(o.at, &offsets)) {
    std::fprintf(stderr, "avikit frames: --at wants offsets like 5,100,42, not %s\n", o.at.c_str());
    return 1;
  }
  FrameSink sink;
  if (!sink.open(o.out)) {
    std::fprintf(stderr, "avikit frames: cannot write %s (OUT ends in .raw or holds one %%d)\n",
                 o.out.c_str());
    return 1;
  }
  AviVideoPlayer player;
  if (player.open(o.file.c_str(), o.stream) != 0) {
    std::fprintf(stderr, "avikit frames: cannot open %s\n", o.file.c_str());
    return 1;
  }
  if (o.reverse) player.set_reverse(1);
  if (!o.trim.empty()) player.trim(first, last);
  if (o.keyframes) player.set_fast_speed(1);
  const int total = offsets.empty() ? o.count : static_cast<int>(offsets.size());
  for (int i = 0; i < total; ++i) {
    if (!offsets.empty()) {
      player.seek(offsets[static_cast<std::size_t>(i)], 1);
    } else if (i == 0) {
      player.seek(o.start, 1);
    }
    if (!sink.emit(player)) {
      std::fprintf(stderr, "avikit frames: no picture to write for frame %d of %s\n", i,
                   o.file.c_str());
      return 1;
    }
    if (offsets.empty()) player.forward(o.step);
    progress(o, i + 1, total);
  }
  if (!sink.finish()) {
    std::fprintf(stderr, "avikit frames: cannot write %s\n", o.out.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

void add_frames_command(CLI::App& app, ExitStatus& status) {
  auto o = std::make_shared<FramesOptions>();
  CLI::App* cmd = app.add_subcommand(
      "frames", "Write frames of an AVI file's video as the video player hands them out");
  cmd->add_option("FILE", o->file, "the AVI file")->required();
  cmd->add_option("--stream", o->stream, "video stream number (-1: the first)");
  cmd->add_option("--start", o->start, "offset of the first frame (default 0)");
  cmd->add_option("--count", o->count, "frames to write (default 1)")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("--step", o->step, "forward(S) between frames (default 1)");
  cmd->add_flag("--keyframes", o->keyframes, "step by key frames (set_fast_speed(1))");
  cmd->add_flag("--reverse", o->reverse, "mirror mode (set_reverse(1))");
  cmd->add_option("--trim", o->trim, "trim(FIRST, LAST) before playing, as FIRST:LAST");
  cmd->add_option("--at", o->at, "seek to each of these offsets instead (5,100,42)");
  cmd->add_flag("--quiet", o->quiet, "no progress on standard error");
  cmd->add_option("-o,--output", o->out, "OUT.raw (frames back to back) or a %d pattern (PNGs)")
      ->required();
  cmd->callback([o, &status] { status.code = run_frames(*o); });
}

}  // namespace avicli
