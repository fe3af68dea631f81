// avikit sheet FILE [--stream N] [--columns N] [--count K] [--keyframes] [--width W]
//                   [--start POS] [--end POS] -o OUT.png
//
// A contact sheet through AviVideoPlayer: K frames spread evenly over the video (or from --start
// to --end; the first frame first), or with --keyframes every key frame among them (as
// set_fast_speed(1) steps them, at most kMaxKeyframes),
// each seek(offset, 1)'d, shrunk to W pixels wide with a box filter and laid out N to a row, with
// frame_2_timecode(offset, mode 0) under it.

#include <avikit/avi_video_player.h>
#include <avikit/platform/win_types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/contact_sheet.h"
#include "cli/image_out.h"
#include "cli/stream_facts.h"

using namespace avikit;

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
  std::string start;  // empty: the first frame
  std::string end;    // empty: the last frame
};

// Walks the key frames the way the player steps them in fast mode; stops when a step does not
// move forward or leaves [first, last], so a player stuck at or stepping past its last key frame
// ends the walk.
std::vector<int> keyframe_offsets(VideoPlayer& player, int first, int last) {
  std::vector<int> offsets;
  player.set_fast_speed(1);
  player.seek(first, 1);
  int previous = -1;
  for (int i = first; i <= last && static_cast<int>(offsets.size()) < kMaxKeyframes; ++i) {
    const int at = player.get_frame_offset();
    if (at <= previous || at > last) break;
    offsets.push_back(at);
    previous = at;
    player.forward(1);
  }
  player.set_fast_speed(0);
  return offsets;
}

bool draw_cell(VideoPlayer& player, int offset, int index, const SheetLayout& l, Canvas& sheet) {
  player.seek(offset, 1);
  const auto* pixels = reinterpret_cast<const std::uint8_t*>(player.get_frame_dib_data());
  const auto* header = player.get_frame_dib_header();
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

// --start / --end as offsets in [0, total - 1]; returns the exit status (0: go on).
int resolve_range(VideoPlayer& player, const SheetOptions& o, int* first, int* last) {
  const int total = player.get_total_frames();
  *first = 0;
  *last = total - 1;
  const auto resolve = [&](const std::string& text, const char* option, int* out) {
    if (text.empty()) return 0;
    Position p;
    std::string why;
    if (!parse_position(text, &p, &why))
      return usage_error("sheet", std::string(option) + ": " + why);
    const std::optional<std::int64_t> f = position_frame(p, player.get_frame_rate(), 0);
    if (!f || *f < 0 || *f >= total) {
      return usage_error("sheet", std::string(option) + " " + text +
                                      " is out of range: the video has frames 0 to " +
                                      std::to_string(total - 1));
    }
    *out = static_cast<int>(*f);
    return 0;
  };
  if (int rc = resolve(o.start, "--start", first)) return rc;
  if (int rc = resolve(o.end, "--end", last)) return rc;
  if (*first > *last) return usage_error("sheet", "--start comes after --end");
  return 0;
}

// The sheet appears whole or not at all: written under a temporary name, then renamed.
bool write_sheet(const std::string& path, const Canvas& sheet) {
  const std::string temp = path + ".part";
  if (write_png_from_bgr(temp, sheet.bgr.data(), sheet.width, sheet.height,
                         static_cast<std::size_t>(sheet.width) * 3, false) &&
      std::rename(temp.c_str(), path.c_str()) == 0) {
    return true;
  }
  std::remove(temp.c_str());
  return false;
}

int run_sheet(const SheetOptions& o) {
  if (suffix_of(o.out) != "png") return usage_error("sheet", "OUT is a .png file, not " + o.out);
  AviVideoPlayer avi;
  VideoPlayer& player = avi;  // driven through the host's interface, as a host would
  if (player.open(o.file.c_str(), o.stream) != 0) {
    return failure("sheet", "cannot open " + o.file + ": " + open_failure_reason());
  }
  if (o.stream != -1) {
    const std::vector<int> streams = video_stream_numbers(o.file);
    if (std::find(streams.begin(), streams.end(), o.stream) == streams.end()) {
      return usage_error("sheet", "--stream " + std::to_string(o.stream) +
                                      ": the video streams of " + o.file + " are " +
                                      list_text(streams));
    }
  }
  const auto* header = player.get_frame_dib_header();
  if (player.get_total_frames() <= 0 || header == nullptr || header->biWidth <= 0 ||
      header->biHeight <= 0) {
    return failure("sheet", o.file + ": the video has no frames");
  }
  int first = 0;
  int last = 0;
  if (int rc = resolve_range(player, o, &first, &last)) return rc;
  std::vector<int> offsets;
  if (o.keyframes) {
    offsets = keyframe_offsets(player, first, last);
  } else {
    offsets = spread_offsets(last - first + 1, o.count);
    for (int& v : offsets) v += first;
  }
  SheetLayout layout;
  if (!plan_sheet(static_cast<int>(offsets.size()), o.columns, header->biWidth, header->biHeight,
                  o.width, &layout)) {
    return usage_error("sheet", std::to_string(offsets.size()) + " cells in " +
                                    std::to_string(o.columns) + " columns of " +
                                    std::to_string(std::min(o.width, int(header->biWidth))) +
                                    " pixels pass the " + std::to_string(kMaxSheetSide) +
                                    "-pixel limit of a side; use fewer columns, cells or a "
                                    "smaller --width");
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
  errno = 0;
  if (!write_sheet(o.out, sheet)) {
    return failure("sheet", "cannot write " + o.out +
                                (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
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
      ->check(CLI::Range(1, 16384));
  cmd->add_option("--count", o->count, "frames, spread evenly over the video (default 16)")
      ->check(CLI::Range(1, 16384));
  cmd->add_option("--width", o->width, "thumbnail width in pixels (default 160)")
      ->check(CLI::Range(1, 16384));
  cmd->add_flag("--keyframes", o->keyframes, "every key frame instead of --count frames");
  cmd->add_option("--start", o->start,
                  "first frame: an offset, seconds (83.5s) or a timecode (00:01:23:12)");
  cmd->add_option("--end", o->end, "last frame, in the same forms");
  cmd->add_option("-o,--output", o->out, "the PNG to write")->required();
  cmd->callback([o, &status] { status.code = run_sheet(*o); });
}

}  // namespace avicli
