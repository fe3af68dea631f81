// avikit frames FILE [--stream N] [--start POS] [--count K] [--step S] [--keyframes]
//                    [--reverse] [--trim FIRST:LAST] [--at LIST] [--pix-fmt F] [--layout L]
//                    [--scale WxH] [--quiet] -o OUT
//
// Plays FILE through AviVideoPlayer and writes the frames it hands out. The player is opened
// with stream N (-1: the file's first video stream); --reverse calls set_reverse(1), --trim
// trim(FIRST, LAST), --keyframes set_fast_speed(1), in that order. Then either seek(POS, 1)
// and up to K times: emit the frame, forward(S), stopping at the end of the window; or, with
// --at 5,100,42, seek(offset, 1) for each listed offset, visited in file order and emitted in
// the order asked. Every value is checked against the file before anything is written.
// OUT: .raw (frames back to back), .y4m (YUV4MPEG2), a %d pattern ending .png (one PNG per
// frame, numbered by frame offset) or - (raw to standard output).

#include <avikit/avi_video_player.h>
#include <avikit/platform/win_types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/image_out.h"
#include "cli/picture_out.h"
#include "cli/stream_facts.h"

using namespace avikit;

namespace avicli {
namespace {

constexpr const char* kCmd = "frames";
// Frames of an --at list are held for standard output up to this many bytes; past it they are
// fetched in the order asked instead.
constexpr std::uint64_t kMaxHeldBytes = 1ull << 30;

struct FramesOptions {
  std::string file;
  std::string out;
  int stream = -1;
  std::string start = "0";
  std::string count = "1";
  std::string step = "1";
  bool keyframes = false;
  bool reverse = false;
  std::string trim;  // FIRST:LAST
  std::string at;    // 5,100,42
  std::string pix_fmt;
  std::string layout;
  std::string scale;
  bool quiet = false;
  // Set when given on the command line.
  bool start_given = false;
  bool count_given = false;
  bool step_given = false;
};

enum class OutKind { kRaw, kY4m, kPng };

// What the checked command line asks for.
struct Request {
  OutKind kind = OutKind::kRaw;
  bool dib = true;  // bottom-up padded rows as the player hands them out
  PixelFormat format = PixelFormat::kBgr24;
  int scale_w = 0;  // 0: the frame's own size
  int scale_h = 0;
  std::int64_t count = 1;
  std::int64_t step = 1;
};

std::string range_text(const char* what, int last) {
  return std::string(what) + " 0 to " + std::to_string(last);
}

int check_output(const FramesOptions& o, Request* r) {
  const std::string suffix = suffix_of(o.out);
  if (o.out.find('%') != std::string::npos) {
    std::string probe;
    if (!format_frame_path(o.out, 0, &probe) || suffix != "png") {
      return usage_error(
          kCmd, "a pattern wants one %d and the suffix .png, as in f%04d.png, not " + o.out);
    }
    r->kind = OutKind::kPng;
  } else if (is_stdout(o.out) || suffix == "raw") {
    r->kind = OutKind::kRaw;
  } else if (suffix == "y4m") {
    r->kind = OutKind::kY4m;
  } else {
    return usage_error(kCmd,
                       "OUT is .raw, .y4m, a PNG pattern (f%04d.png) or - (standard "
                       "output), not " +
                           o.out);
  }
  if (!o.pix_fmt.empty() && !parse_pixel_format(o.pix_fmt, &r->format)) {
    return usage_error(kCmd, "--pix-fmt is bgr24, rgb24, gray or yuv420p, not " + o.pix_fmt);
  }
  if (!o.layout.empty() && o.layout != "dib" && o.layout != "packed") {
    return usage_error(kCmd, "--layout is dib or packed, not " + o.layout);
  }
  if (!o.scale.empty() && !parse_size(o.scale, &r->scale_w, &r->scale_h)) {
    return usage_error(kCmd, "--scale wants WxH, each 1 to 16384, not " + o.scale);
  }
  const bool packed_asked = !o.pix_fmt.empty() || o.layout == "packed" || !o.scale.empty();
  if (o.layout == "dib" && (packed_asked || r->kind != OutKind::kRaw)) {
    return usage_error(kCmd,
                       "--layout dib is the player's own bitmap: raw output only, without "
                       "--pix-fmt or --scale");
  }
  if (r->kind == OutKind::kY4m && !o.pix_fmt.empty() && r->format != PixelFormat::kYuv420p) {
    return usage_error(kCmd, ".y4m holds yuv420p only");
  }
  if (r->kind == OutKind::kPng && !o.pix_fmt.empty()) {
    return usage_error(kCmd, "PNGs are RGB; --pix-fmt is for .raw and - output");
  }
  if (r->kind == OutKind::kY4m) r->format = PixelFormat::kYuv420p;
  r->dib = r->kind == OutKind::kRaw && !packed_asked;
  return 0;
}

int check_numbers(const FramesOptions& o, Request* r) {
  if (!parse_int(o.count, &r->count) || r->count < 0 || r->count > 0x7FFFFFFF) {
    return usage_error(kCmd, "--count wants a whole number from 0 to 2147483647, not " + o.count);
  }
  if (!parse_int(o.step, &r->step) || r->step < 1 || r->step > 0x7FFFFFFF) {
    return usage_error(kCmd, "--step wants a whole number from 1 to 2147483647, not " + o.step);
  }
  if (!o.at.empty() && (o.start_given || o.count_given || o.step_given || o.keyframes)) {
    return usage_error(kCmd,
                       "--at lists the frames itself; leave out --start, --count, --step "
                       "and --keyframes");
  }
  return 0;
}

// Checks --trim, --start and --at against the opened player and applies the trim. Returns the
// exit status (0: go on) and fills the start offset and the --at offsets.
int place(AviVideoPlayer& player, const FramesOptions& o, int* start, std::vector<int>* at) {
  const int total = player.get_total_frames();
  if (total <= 0) return failure(kCmd, o.file + ": the video has no frames");
  if (!o.trim.empty()) {
    std::int64_t first = 0;
    std::int64_t last = 0;
    const std::size_t colon = o.trim.find(':');
    if (colon == std::string::npos || !parse_int(o.trim.substr(0, colon), &first) ||
        !parse_int(o.trim.substr(colon + 1), &last) || first < 0 || first > last || last >= total) {
      return usage_error(kCmd, "--trim wants FIRST:LAST with 0 <= FIRST <= LAST <= " +
                                   std::to_string(total - 1) + ", not " + o.trim);
    }
    player.trim(static_cast<int>(first), static_cast<int>(last));
  }
  const int window = player.get_total_frames();
  const char* what = o.trim.empty() ? "the video has frames" : "the window has offsets";
  const double rate = player.get_frame_rate();
  const auto resolve = [&](const std::string& text, const char* option, int* out) {
    Position p;
    std::string why;
    if (!parse_position(text, &p, &why)) return usage_error(kCmd, std::string(option) + ": " + why);
    const std::optional<std::int64_t> f = position_frame(p, rate, player.get_start_frame_offset());
    if (!f || *f < 0 || *f >= window) {
      return usage_error(kCmd, std::string(option) + " " + text +
                                   " is out of range: " + range_text(what, window - 1));
    }
    *out = static_cast<int>(*f);
    return 0;
  };
  if (int rc = resolve(o.start, "--start", start)) return rc;
  if (o.at.empty()) return 0;
  std::stringstream ss(o.at);
  std::string item;
  while (std::getline(ss, item, ',')) {
    int offset = 0;
    if (int rc = resolve(item, "--at", &offset)) return rc;
    at->push_back(offset);
  }
  if (at->empty()) return usage_error(kCmd, "--at wants offsets like 5,100,42");
  return 0;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != stdout) std::fclose(f);
  }
};

// Where emitted frames go. Each frame has a slot (its place in the output) and an offset (its
// name for PNGs); raw and .y4m files are written at the slot's position, so frames may arrive in
// any order.
class FrameSink {
 public:
  FrameSink(const FramesOptions& o, const Request& r) : o_(o), r_(r) {}

  bool open(bool hold) {
    hold_ = hold;
    if (r_.kind == OutKind::kPng) return true;
    if (is_stdout(o_.out)) {
      file_.reset(stdout);
      return true;
    }
    file_.reset(std::fopen(o_.out.c_str(), "wb"));
    return file_ != nullptr;
  }

  // Converts the player's current frame and puts it in its slot.
  bool emit(AviVideoPlayer& player, std::size_t slot, int offset) {
    const auto* pixels = reinterpret_cast<const std::uint8_t*>(player.get_frame_dib_data());
    const auto* header = player.get_frame_dib_header();
    const int pitch = player.get_frame_dib_pitch();
    if (pixels == nullptr || header == nullptr || pitch <= 0 || header->biHeight <= 0 ||
        header->biWidth <= 0) {
      error_ = "the player has no picture for offset " + std::to_string(offset);
      return false;
    }
    const int w = header->biWidth;
    const int h = header->biHeight;
    const auto stride = static_cast<std::size_t>(pitch);
    if (r_.kind == OutKind::kPng && r_.scale_w == 0)
      return write_png(offset, pixels, w, h, stride, true);
    if (r_.dib) return put(slot, pixels, stride * static_cast<std::size_t>(h));
    if (!converter_) {
      converter_ = std::make_unique<PictureConverter>(
          r_.kind == OutKind::kPng ? PixelFormat::kBgr24 : r_.format,
          r_.scale_w != 0 ? r_.scale_w : w, r_.scale_h != 0 ? r_.scale_h : h);
    }
    if (!converter_->convert(pixels, w, h, stride, &picture_)) {
      error_ = "cannot convert the picture of offset " + std::to_string(offset);
      return false;
    }
    if (r_.kind == OutKind::kPng) {
      return write_png(offset, picture_.data(), converter_->width(), converter_->height(),
                       static_cast<std::size_t>(converter_->width()) * 3, false);
    }
    if (r_.kind == OutKind::kY4m && !header_written_) {
      const std::string head = y4m_header(converter_->width(), converter_->height(), rate_, scale_);
      header_bytes_ = head.size();
      if (std::fwrite(head.data(), 1, head.size(), file_.get()) != head.size()) return io_error();
      header_written_ = true;
    }
    return put(slot, picture_.data(), picture_.size());
  }

  // Writes held frames and sizes the file to the slots filled without a gap. Returns whether
  // the output is complete and written.
  bool finish() {
    if (!file_) return true;
    std::size_t prefix = 0;
    while (prefix < filled_.size() && filled_[prefix]) ++prefix;
    for (auto& [slot, bytes] : held_) {
      if (slot >= prefix) break;
      if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size())
        return io_error();
    }
    if (!is_stdout(o_.out) && prefix < filled_.size()) {
      if (std::fflush(file_.get()) != 0 ||
          ::ftruncate(fileno(file_.get()), static_cast<off_t>(header_bytes_ + prefix * record_)) !=
              0) {
        return io_error();
      }
    }
    if (std::fflush(file_.get()) != 0) return io_error();
    return true;
  }

  void set_rate(std::uint32_t rate, std::uint32_t scale) {
    rate_ = rate;
    scale_ = scale;
  }
  const std::string& error() const { return error_; }

 private:
  bool put(std::size_t slot, const std::uint8_t* data, std::size_t bytes) {
    const std::size_t tag = r_.kind == OutKind::kY4m ? sizeof kY4mFrameTag - 1 : 0;
    record_ = tag + bytes;
    if (filled_.size() <= slot) filled_.resize(slot + 1, false);
    filled_[slot] = true;
    if (hold_) {
      std::vector<std::uint8_t>& held = held_[slot];
      held.assign(kY4mFrameTag, kY4mFrameTag + tag);
      held.insert(held.end(), data, data + bytes);
      return true;
    }
    if (!is_stdout(o_.out) &&
        ::fseeko(file_.get(), static_cast<off_t>(header_bytes_ + slot * record_), SEEK_SET) != 0) {
      return io_error();
    }
    if (std::fwrite(kY4mFrameTag, 1, tag, file_.get()) != tag ||
        std::fwrite(data, 1, bytes, file_.get()) != bytes) {
      return io_error();
    }
    return true;
  }

  bool write_png(int offset, const std::uint8_t* pixels, int w, int h, std::size_t stride,
                 bool bottom_up) {
    std::string path;
    if (!format_frame_path(o_.out, offset, &path)) return false;
    // A PNG appears whole or not at all: an interrupted run leaves no truncated picture.
    const std::string temp = path + ".part";
    errno = 0;
    if (!write_png_from_bgr(temp, pixels, w, h, stride, bottom_up) ||
        std::rename(temp.c_str(), path.c_str()) != 0) {
      error_ =
          "cannot write " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
      std::remove(temp.c_str());
      return false;
    }
    return true;
  }

  bool io_error() {
    error_ =
        "cannot write " + o_.out + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
    return false;
  }

  const FramesOptions& o_;
  const Request& r_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::unique_ptr<PictureConverter> converter_;
  std::vector<std::uint8_t> picture_;
  std::vector<bool> filled_;
  std::map<std::size_t, std::vector<std::uint8_t>> held_;
  bool hold_ = false;
  bool header_written_ = false;
  std::size_t header_bytes_ = 0;
  std::size_t record_ = 0;
  std::uint32_t rate_ = 0;
  std::uint32_t scale_ = 0;
  std::string error_;
};

void progress(const FramesOptions& o, std::int64_t done, std::int64_t total) {
  if (o.quiet || total < 50 || (done % 25 != 0 && done != total) || !stderr_is_terminal()) return;
  std::fprintf(stderr, "\ravikit frames: %lld/%lld", static_cast<long long>(done),
               static_cast<long long>(total));
  if (done == total) std::fprintf(stderr, "\n");
}

int interrupted_exit(std::int64_t done, std::int64_t total) {
  std::fprintf(stderr, "avikit frames: interrupted: %lld of %lld frames written\n",
               static_cast<long long>(done), static_cast<long long>(total));
  return kExitInterrupted;
}

// seek, then emit and forward(S) until K frames, the end of the window, or a step that does not
// move on (the last key frame).
int run_sequence(AviVideoPlayer& player, FrameSink& sink, const FramesOptions& o, const Request& r,
                 int start) {
  const int window = player.get_total_frames();
  player.seek(start, 1);
  int offset = player.get_frame_offset();
  for (std::int64_t i = 0; i < r.count; ++i) {
    if (!sink.emit(player, static_cast<std::size_t>(i), offset)) return failure(kCmd, sink.error());
    progress(o, i + 1, r.count);
    if (interrupted()) return sink.finish() ? interrupted_exit(i + 1, r.count) : kExitFailed;
    if (i + 1 == r.count) break;
    player.forward(static_cast<int>(r.step));
    const int next = player.get_frame_offset();
    if (next <= offset || next >= window) {
      std::fprintf(stderr, "avikit frames: %lld of %lld frames: ", static_cast<long long>(i + 1),
                   static_cast<long long>(r.count));
      if (o.keyframes) {
        std::fprintf(stderr, "no key frame after %d\n", offset);
      } else {
        std::fprintf(stderr, "the %s ends at %d\n", o.trim.empty() ? "stream" : "window (offset)",
                     window - 1);
      }
      break;
    }
    offset = next;
  }
  return sink.finish() ? 0 : failure(kCmd, sink.error());
}

// Each listed offset once, in file order (a decoder only walks forward cheaply); the sink puts
// each frame in the place it was asked for.
int run_list(AviVideoPlayer& player, FrameSink& sink, const FramesOptions& o,
             const std::vector<int>& at, bool file_order) {
  std::vector<std::size_t> order(at.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (file_order) {
    const bool backwards = player.get_reverse() != 0;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return backwards ? at[a] > at[b] : at[a] < at[b];
    });
  }
  const auto total = static_cast<std::int64_t>(at.size());
  std::int64_t done = 0;
  for (const std::size_t slot : order) {
    player.seek(at[slot], 1);
    if (!sink.emit(player, slot, at[slot])) return failure(kCmd, sink.error());
    ++done;
    progress(o, done, total);
    if (interrupted() && done < total) {
      return sink.finish() ? interrupted_exit(done, total) : failure(kCmd, sink.error());
    }
  }
  return sink.finish() ? 0 : failure(kCmd, sink.error());
}

int run_frames(const FramesOptions& o) {
  Request r;
  if (int rc = check_output(o, &r)) return rc;
  if (int rc = check_numbers(o, &r)) return rc;
  AviVideoPlayer player;
  if (player.open(o.file.c_str(), o.stream) != 0) {
    return failure(kCmd, "cannot open " + o.file + ": " + open_failure_reason());
  }
  if (o.stream != -1) {
    const std::vector<int> streams = video_stream_numbers(o.file);
    if (std::find(streams.begin(), streams.end(), o.stream) == streams.end()) {
      return usage_error(kCmd, "--stream " + std::to_string(o.stream) + ": the video streams of " +
                                   o.file + " are " + list_text(streams));
    }
  }
  if (o.reverse) player.set_reverse(1);
  int start = 0;
  std::vector<int> at;
  if (int rc = place(player, o, &start, &at)) return rc;
  if (o.keyframes) player.set_fast_speed(1);

  // Standard output cannot be written out of order: hold the frames when they fit.
  const auto* header = player.get_frame_dib_header();
  const std::uint64_t frame_bytes = header != nullptr
                                        ? std::uint64_t(std::max(header->biWidth, 1)) *
                                              std::uint64_t(std::max(header->biHeight, 1)) * 3
                                        : 0;
  const bool hold = is_stdout(o.out) && at.size() > 1 && frame_bytes * at.size() <= kMaxHeldBytes;
  FrameSink sink(o, r);
  VideoFacts facts;
  if (r.kind == OutKind::kY4m &&
      read_video_facts(o.file, player.get_video_stream_id(), false, &facts)) {
    sink.set_rate(facts.rate, facts.scale);
  }
  if (!sink.open(hold)) {
    return failure(kCmd, "cannot create " + o.out + ": " + std::strerror(errno));
  }
  install_interrupt_handlers();
  if (!at.empty()) return run_list(player, sink, o, at, hold || !is_stdout(o.out));
  return run_sequence(player, sink, o, r, start);
}

}  // namespace

void add_frames_command(CLI::App& app, ExitStatus& status) {
  auto o = std::make_shared<FramesOptions>();
  CLI::App* cmd = app.add_subcommand(
      "frames", "Write frames of an AVI file's video as the video player hands them out");
  cmd->add_option("FILE", o->file, "the AVI file")->required();
  cmd->add_option("--stream", o->stream, "video stream number (-1: the first)");
  CLI::Option* start = cmd->add_option(
      "--start", o->start, "first frame: an offset, seconds (83.5s) or a timecode (00:01:23:12)");
  CLI::Option* count = cmd->add_option("--count", o->count, "frames to write (default 1)");
  CLI::Option* step = cmd->add_option("--step", o->step, "forward(S) between frames (default 1)");
  cmd->add_flag("--keyframes", o->keyframes, "step by key frames (set_fast_speed(1))");
  cmd->add_flag("--reverse", o->reverse, "mirror mode (set_reverse(1))");
  cmd->add_option("--trim", o->trim, "trim(FIRST, LAST) before playing, as FIRST:LAST");
  cmd->add_option("--at", o->at, "these offsets instead (5,100,42; seconds and timecodes too)");
  cmd->add_option("--pix-fmt", o->pix_fmt, "packed top-down rows: bgr24, rgb24, gray or yuv420p");
  cmd->add_option("--layout", o->layout,
                  "dib (the player's bottom-up bitmap, the default for "
                  "raw) or packed");
  cmd->add_option("--scale", o->scale, "scale to WxH (libswscale, bicubic)");
  cmd->add_flag("--quiet", o->quiet, "no progress on standard error");
  add_cache_option(cmd);
  cmd->add_option("-o,--output", o->out,
                  "OUT.raw, OUT.y4m, a PNG pattern (f%04d.png) or - for standard output")
      ->required();
  cmd->callback([o, start, count, step, &status] {
    o->start_given = start->count() > 0;
    o->count_given = count->count() > 0;
    o->step_given = step->count() > 0;
    status.code = run_frames(*o);
  });
}

}  // namespace avicli
