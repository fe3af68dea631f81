// avikit sheet FILE [--stream N] [--columns N] [--count K] [--keyframes] [--width W] -o OUT.png
//
// A contact sheet through AviVideoPlayer: K frames spread evenly over the video (frame 0 first),
// or with --keyframes every key frame (as set_fast_speed(1) steps them, at most kMaxKeyframes),
// each seek(offset, 1)'d, shrunk to W pixels wide with a box filter and laid out N to a row, with
// frame_2_timecode(offset, mode 0) under it.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/contact_sheet.h"
#include "cli/image_out.h"
#include "platform/win_types.h"
#include "video/avi_video_player.h"

namespace avicli {
namespace {

constexpr int kMaxKeyframes = 1000;
constexpr std::uint8_t kBackground = 24;
constexpr std::uint8_t kInk = 230;

struct SheetOptions {
  std::string file;
  std::string out;
  int stream = -1;
  int columns = 4;
  int count = 16;
  int width = 160;
  bool keyframes = false;
};

// Walks the key frames the way the player steps them in fast mode; stops when a step does not
// move forward, so a player stuck at its last key frame ends the walk.
std::vector<int> keyframe_offsets(VideoPlayer& player) {
  std::vector<int> offsets;
  player.set_fast_speed(1);
  player.seek(0, 1);
  int last = -1;
  const int ceiling = player.get_total_frames();
  for (int i = 0; i < ceiling && static_cast<int>(offsets.size()) < kMaxKeyframes; ++i) {
    const int at = player.get_frame_offset();
    if (at <= last) break;
    offsets.push_back(at);
    last = at;
    if (player.is_end() != 0) break;
    player.forward(1);
  }
  player.set_fast_speed(0);
  return offsets;
}

bool draw_cell(VideoPlayer& player, int offset, int index, const SheetLayout& l, Canvas& sheet) {
  player.seek(offset, 1);
  const auto* pixels = reinterpret_cast<const std::uint8_t*>(player.get_frame_dib_data());
  const auto* header =
      static_cast<const platform::BITMAPINFOHEADER*>(player.get_frame_dib_header());
  const int pitch = player.get_frame_dib_pitch();
  if (pixels == nullptr || header == nullptr || pitch <= 0 || header->biHeight <= 0 ||
      header->biWidth <= 0)
    return false;
  const int x = l.cell_x(index);
  const int y = l.cell_y(index);
  draw_thumbnail(sheet, x, y, l.thumb_width, l.thumb_height, pixels, header->biWidth,
                 header->biHeight, static_cast<std::size_t>(pitch), true);
  char timecode[64] = {};
  player.frame_2_timecode(offset, timecode, 0);
  const std::string text(timecode);
  const int tx = x + (l.thumb_width - text_width(text, l.font_scale)) / 2;
  draw_text(sheet, tx, y + l.thumb_height + 2 * l.font_scale, text, l.font_scale, kInk);
  return true;
}

int run_sheet(const SheetOptions& o) {
  AviVideoPlayer avi;
  VideoPlayer& player = avi;  // driven through the host's interface, as a host would
  if (player.open(o.file.c_str(), o.stream) != 0) {
    std::fprintf(stderr, "avikit sheet: cannot open %s\n", o.file.c_str());
    return 1;
  }
  const std::vector<int> offsets =
      o.keyframes ? keyframe_offsets(player) : spread_offsets(player.get_total_frames(), o.count);
  const auto* header =
      static_cast<const platform::BITMAPINFOHEADER*>(player.get_frame_dib_header());
  SheetLayout layout;
  if (offsets.empty() || header == nullptr ||
      !plan_sheet(static_cast<int>(offsets.size()), o.columns, header->biWidth, header->biHeight,
                  o.width, &layout)) {
    std::fprintf(stderr, "avikit sheet: no frames to lay out from %s\n", o.file.c_str());
    return 1;
  }
  Canvas sheet;
  if (!sheet.allocate(layout.width(), layout.height(), kBackground)) return 1;
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    if (!draw_cell(player, offsets[i], static_cast<int>(i), layout, sheet)) {
      std::fprintf(stderr, "avikit sheet: no picture for frame %d of %s\n", offsets[i],
                   o.file.c_str());
      return 1;
    }
  }
  if (!write_png_from_bgr(o.out, sheet.bgr.data(), sheet.width, sheet.height,
                          static_cast<std::size_t>(sheet.width) * 3, false)) {
    std::fprintf(stderr, "avikit sheet: cannot write %s\n", o.out.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

void add_sheet_command(CLI::App& app, ExitStatus& status) {
  auto o = std::make_shared<SheetOptions>();
  CLI::App* cmd = app.add_subcommand(
      "sheet", "Write a contact sheet: a grid of frames, each with its timecode under it");
  cmd->add_option("FILE", o->file, "the AVI file")->required();
  cmd->add_option("--stream", o->stream, "video stream number (-1: the first)");
  cmd->add_option("--columns", o->columns, "thumbnails per row (default 4)")
      ->check(CLI::PositiveNumber);
  cmd->add_option("--count", o->count, "frames, spread evenly over the video (default 16)")
      ->check(CLI::PositiveNumber);
  cmd->add_option("--width", o->width, "thumbnail width in pixels (default 160)")
      ->check(CLI::PositiveNumber);
  cmd->add_flag("--keyframes", o->keyframes, "every key frame instead of --count frames");
  cmd->add_option("-o,--output", o->out, "the PNG to write")->required();
  cmd->callback([o, &status] { status.code = run_sheet(*o); });
}

}  // namespace avicli
