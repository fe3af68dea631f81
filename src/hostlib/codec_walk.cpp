#include "hostlib/codec_walk.h"

#include <algorithm>

#include "hostlib/avcodec_driver.h"

namespace avikit::hostlib {
namespace {

// Walk ceiling of one request: a start at the wanted key frame, and at most one fall-back to
// the key frame before for each open GOP's leading pictures.
constexpr int kMaxRunStarts = 4;

AvkRunState run_state(platform::HIC ic) {
  AvkRunState st;
  if (platform::ICSendMessage(ic, ICM_AVK_GET_RUN_STATE, reinterpret_cast<platform::DWORD_PTR>(&st),
                              sizeof st) != 0) {
    st = AvkRunState{};
  }
  return st;
}

// The key frame at or before f; with no key frame flagged, frame 0.
std::uint32_t key_at_or_before(std::span<const std::uint32_t> keys, std::uint32_t f) {
  const auto it = std::upper_bound(keys.begin(), keys.end(), f);
  return it == keys.begin() ? 0 : *(it - 1);
}

// The key frame before k, or kNoFrame.
std::uint32_t key_before(std::span<const std::uint32_t> keys, std::uint32_t k) {
  const auto it = std::lower_bound(keys.begin(), keys.end(), k);
  return it == keys.begin() ? kNoFrame : *(it - 1);
}

// For a codec that codes every picture alone, the chunk a run for frame f starts at: the last
// chunk at or before f holding data (a 0-byte chunk shows the picture before it), looked for
// no further back than f's key frame.
std::uint32_t intra_start(WalkChunks& chunks, std::uint32_t f) {
  const std::uint32_t key = key_at_or_before(chunks.key_frames(), f);
  std::uint32_t c = f;
  while (c > key && chunks.size(c) == 0) --c;
  return c;
}

}  // namespace

bool CodecRun::feed(const WalkTarget& t, WalkChunks& chunks, std::uint32_t chunk, bool starts,
                    bool hurry) {
  // Chunks of 0 bytes go to the driver as well: it shows a dropped frame as a repeat.
  const std::span<const std::uint8_t> bytes = chunks.read(chunk);
  t.input->biSizeImage = static_cast<platform::DWORD>(bytes.size());
  next_chunk = chunk + 1;
  platform::DWORD flags = starts ? 0 : platform::ICDECOMPRESS_NOTKEYFRAME;
  if (hurry) flags |= platform::ICDECOMPRESS_HURRYUP;
  hurried = hurry;
  return platform::ICDecompress(t.ic, flags, t.input, const_cast<std::uint8_t*>(bytes.data()),
                                t.output, t.destination) == platform::ICERR_OK;
}

// Plays the run on until the destination holds `frame`. False when the driver fails, the
// stream has no such picture, or (with *leading set) `frame` is shown before `key` and needs an
// earlier key frame.
bool CodecRun::play_to(const WalkTarget& t, WalkChunks& chunks, std::uint32_t frame,
                       bool keep_passed, bool* leading) {
  const std::int64_t want = std::int64_t{frame} - std::int64_t{key};
  const std::uint32_t count = chunks.count();
  // The picture the run stands on was written before this walk, perhaps over by a kept one.
  std::int64_t kept = keep_passed ? run_state(t.ic).picture : -1;
  for (std::int64_t calls = 0; calls < want + kAvkMaxLookahead; ++calls) {
    const AvkRunState st = run_state(t.ic);
    if (keep_passed && st.picture >= 0 && st.picture != kept && !hurried) {
      kept = st.picture;
      chunks.keep(key + static_cast<std::uint32_t>(st.picture), frame);
    }
    if (st.picture == want) return true;
    if (st.first_picture > want) {
      *leading = true;
      return false;
    }
    if (next_chunk < count) {
      // Each call gives at most the next picture, so while it lies before the one wanted the
      // call may be hurried: the driver then skips its output, or the whole decode of a
      // B-frame. Not a picture to keep, nor a frame a dropped frame follows: that one shows
      // its picture again.
      const std::uint32_t next = key + static_cast<std::uint32_t>(st.picture + 1);
      const bool kept_next = keep_passed && chunks.worth_keeping(next, frame);
      const bool dropped_next =
          std::uint64_t{next_chunk} + 1 < count && chunks.size(next_chunk + 1) == 0;
      const bool hurry = !kept_next && st.picture >= 0 && st.picture + 1 < want && !dropped_next;
      if (!feed(t, chunks, next_chunk, false, hurry)) return false;
    } else if (platform::ICSendMessage(t.ic, ICM_AVK_DRAIN,
                                       reinterpret_cast<platform::DWORD_PTR>(t.destination),
                                       0) != platform::ICERR_OK) {
      return false;  // past the last picture the decoder can give
    }
  }
  return false;
}

// A stream can have fewer pictures than chunks (libavcodec cannot give the last B-frames of a
// packed stream): a walk to such a frame fails.
bool CodecRun::walk_to(const WalkTarget& t, WalkChunks& chunks, std::uint32_t frame,
                       bool keep_passed, std::uint32_t* shown) {
  *shown = kNoFrame;
  if (frame >= chunks.count()) return false;
  const std::span<const std::uint32_t> keys = chunks.key_frames();
  std::uint32_t target = frame;
  // An intra-only codec never needs the frames before: every run starts at the frame itself,
  // whatever the index flags (MJPEG files often flag only their first frame).
  std::uint32_t k = t.intra_only ? intra_start(chunks, target) : key_at_or_before(keys, target);
  for (int start = 0; start < kMaxRunStarts; ++start) {
    const AvkRunState st = run_state(t.ic);
    const std::int64_t at =
        key == kNoFrame || st.picture < 0 ? -1 : std::int64_t{key} + std::int64_t{st.picture};
    // Playing on across a key frame, or into the leading pictures of an open GOP, needs no
    // restart as long as the run has not passed the target. An intra-only run goes on from the
    // chunk it stands before, which costs what a new run would.
    const bool taken = t.intra_only ? next_chunk >= k : next_chunk > k;
    const bool go_on =
        key != kNoFrame && at <= std::int64_t{target} && (key == k || (key < k && taken));
    if (go_on) {
      k = key;
    } else {
      key = k;
      if (!feed(t, chunks, k, true, false)) break;
    }
    bool leading = false;
    if (play_to(t, chunks, target, keep_passed, &leading)) {
      *shown = target;
      return true;
    }
    if (!leading) break;
    const std::uint32_t before = key_before(keys, k);
    if (before == kNoFrame) {
      // A leading picture of the first key frame has no references in the file: show the
      // run's first picture instead, as frames before the first key frame do.
      target = k + static_cast<std::uint32_t>(std::max(run_state(t.ic).first_picture, 0));
      continue;
    }
    k = before;
    key = kNoFrame;
  }
  // The destination keeps what the driver last wrote into it; after a hurried call that is not
  // the run's picture, so the next request starts afresh.
  if (hurried) {
    key = kNoFrame;
    return false;
  }
  const AvkRunState st = run_state(t.ic);
  if (key != kNoFrame && st.picture >= 0) *shown = key + static_cast<std::uint32_t>(st.picture);
  return false;
}

}  // namespace avikit::hostlib
