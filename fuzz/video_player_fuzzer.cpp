// Drives AviVideoPlayer over arbitrary bytes opened as an in-memory file, with an operation
// script taken from the front of the input:
//   bytes 0-1   script length L (little-endian, capped by the input)
//   bytes 2..   L bytes of script: 3-byte operations (opcode, a, b)
//   the rest    the file
// Only invariants are checked (results in range, bitmaps readable end to end, nothing left
// open); the sanitizers catch the rest. Moves are kept within 256 frames of the start so a file
// without key frames cannot turn one input into millions of decodes.

#include <avikit/avi_video_player.h>
#include <avikit/image.h>
#include <avikit/media_info.h>
#include <avikit/options.h>
#include <avikit/platform/vfw.h>
#include <avikit/smpte_timecode.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "container/avi_container.h"
#include "platform/files.h"
#include "video/shared_file_registry.h"

using namespace avikit;

namespace {

// The input of the run under way, held in memory.
InMemoryFile g_input(nullptr, "mem:fuzz_video.avi");
constexpr std::size_t kMaxOps = 48;
// Pictures above this many pixels are legal but only cost memory and time here.
constexpr std::int64_t kMaxPixels = 1 << 20;

void check(bool ok) {
  if (!ok) std::abort();
}

// Refuses files declaring huge pictures before a player allocates bitmaps for them.
bool reasonable_sizes() {
  AviContainer c(true);
  if (c.open(g_input) == 0) return true;  // the player will refuse it as well
  std::uint32_t numbers[32];
  const int n = c.video_stream_numbers(numbers, 32);
  for (int i = 0; i < n; ++i) {
    c.select_video_stream(static_cast<int>(numbers[i]));
    const platform::BITMAPINFOHEADER* f = c.video_format();
    if (f == nullptr) continue;
    const std::int64_t w = f->biWidth;
    const std::int64_t h = f->biHeight < 0 ? -std::int64_t{f->biHeight} : f->biHeight;
    if (w * h > kMaxPixels) return false;
  }
  return true;
}

// Every byte of the handed-out picture must be readable.
void touch_output(AviVideoPlayer& p) {
  const char* data = p.get_frame_dib_data();
  const auto* h = p.get_frame_dib_header();
  if (data == nullptr || h == nullptr) return;
  check(h->biBitCount == 24);
  const std::size_t bytes = static_cast<std::size_t>(p.get_frame_dib_pitch()) *
                            static_cast<std::size_t>(h->biHeight > 0 ? h->biHeight : 0);
  unsigned sum = 0;
  for (std::size_t i = 0; i < bytes; i += 61) sum += static_cast<unsigned char>(data[i]);
  if (bytes > 0) sum += static_cast<unsigned char>(data[bytes - 1]);
  volatile unsigned sink = sum;
  (void)sink;
}

void touch_image(AviVideoPlayer& p) {
  Image* image = p.get_frame();
  if (image == nullptr || image->data() == nullptr) return;
  check(image->width() > 0 && image->height() > 0);
  volatile std::uint8_t last = image->row(image->height() - 1)[image->width() * 3 - 1];
  (void)last;
}

void check_state(AviVideoPlayer& p) {
  check(p.is_end() == 0 || p.is_end() == 1);
  check(p.is_start() == 0 || p.is_start() == 1);
  check(p.get_frame_dib_depth() == 24);
  check(p.get_speed() >= 1 && p.get_speed() <= 24);
  p.get_frame_rate();
  p.get_frame_time();
  p.get_total_length();
  p.get_end_frame_time();
}

void run_op(AviVideoPlayer& p, std::uint8_t op, std::uint8_t a, std::uint8_t b) {
  const auto sa = static_cast<std::int8_t>(a);
  char buffer[kTimecodeBufferSize] = {};
  switch (op % 18) {
    case 0:
      p.seek(a, b & 1);
      break;
    case 1:
      p.forward(sa % 32);
      break;
    case 2:
      p.reverse(sa % 32);
      break;
    case 3:
      p.set_fast_speed(a & 1);
      break;
    case 4:
      p.set_reverse(a & 1);
      break;
    case 5:
      p.trim(sa, static_cast<std::int8_t>(b));
      break;
    case 6:
      p.trim_clear();
      break;
    case 7:
      touch_image(p);
      break;
    case 8:
      touch_output(p);
      break;
    case 9:
      p.select_video_stream(sa % 4);
      break;
    case 10:
      check(p.frame_2_timecode(sa, buffer, b & 1) == buffer);
      check(std::strlen(buffer) < sizeof buffer);
      p.timecode_2_frame(buffer);
      check(p.get_length_timecode(buffer) == buffer);
      break;
    case 11:
      p.set_speed(a % 30);
      break;
    case 12:
      p.forward_time(sa / 8.0);
      break;
    case 13:
      p.reverse_time(sa / 8.0);
      break;
    case 14:
      p.seek_time(a / 8.0, b & 1);
      break;
    case 15: {
      AviVideoPlayer copy(p);  // shares the player; must not free it
      copy.forward(1);
      touch_output(copy);
      break;
    }
    case 16: {
      AviVideoPlayer other;  // a second player of the same file and thread
      if (other.open(g_input, (b & 1) != 0 ? 0 : -1) == 0) {
        other.seek(a, 1);
        touch_output(other);
        p.forward(1);
        touch_output(p);
      }
      break;
    }
    case 17:
      p.set_frame_rate(a, 0);
      break;
  }
  check_state(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t script = std::min<std::size_t>(data[0] | std::size_t{data[1]} << 8, size - 2);
  const std::uint8_t* ops = data + 2;
  const std::uint8_t* file = ops + script;
  const std::size_t file_size = size - 2 - script;
  g_input.bytes =
      std::make_shared<const std::string>(reinterpret_cast<const char*>(file), file_size);
  if (reasonable_sizes()) {
    // The first operation byte, when there is one, picks the bitmap format option.
    if (script > 0 && (ops[0] & 0x80) != 0) options_set(254, 2);
    {
      AviVideoPlayer player;
      const int opened = player.open(g_input, -1);
      check(opened == 0 || opened == 1);
      check(player.get_total_frames() >= 0);
      for (std::size_t i = 0; i + 3 <= script && i / 3 < kMaxOps; i += 3) {
        run_op(player, ops[i], ops[i + 1], ops[i + 2]);
      }
      touch_output(player);
    }
    options_clear(254);
  }
  g_input.bytes.reset();
  check(shared_file_count() == 0);
  check(platform::open_file_handles() == 0);
  check(platform::ic_open_instances() == 0);
  return 0;
}
