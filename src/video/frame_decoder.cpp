// Frame reading and decompression: one frame of the selected video stream into a bitmap, by
// the codec (driven forward from the right key frame), the uncompressed path or the built-in DV
// decoder.
#include "dv/frame_decoder.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <span>

#include "hostlib/avcodec_driver.h"
#include "hostlib/dib_layout.h"
#include "hostlib/options.h"
#include "video/raw_convert.h"
#include "video/shared_avi_file.h"

platform::CRITICAL_SECTION g_dv_frame_lock;

namespace {

using platform::as_header;
using platform::BITMAPINFOHEADER;

std::once_flag g_dv_frame_lock_once;
bool g_dv_frame_lock_made = false;

// Deletes the lock when the module is unloaded; defined after the lock, so it runs first.
struct DvFrameLockUnload {
  DvFrameLockUnload() = default;
  ~DvFrameLockUnload() {
    if (g_dv_frame_lock_made) platform::DeleteCriticalSection(&g_dv_frame_lock);
  }
  DvFrameLockUnload(const DvFrameLockUnload&) = delete;
  DvFrameLockUnload& operator=(const DvFrameLockUnload&) = delete;
} g_dv_frame_lock_unload;

platform::CRITICAL_SECTION& dv_frame_lock() {
  std::call_once(g_dv_frame_lock_once, [] {
    platform::InitializeCriticalSection(&g_dv_frame_lock);
    g_dv_frame_lock_made = true;
  });
  return g_dv_frame_lock;
}

// The header at the start of a format block (zero when the block is shorter).
BITMAPINFOHEADER header_of(const std::vector<std::uint8_t>& block) {
  BITMAPINFOHEADER h;
  if (block.size() >= sizeof h) std::memcpy(&h, block.data(), sizeof h);
  return h;
}

void set_size_image(std::vector<std::uint8_t>& block, std::uint32_t bytes) {
  constexpr std::size_t kSizeImage = offsetof(BITMAPINFOHEADER, biSizeImage);
  if (block.size() < kSizeImage + 4) return;
  for (std::size_t i = 0; i < 4; ++i) {
    block[kSizeImage + i] = static_cast<std::uint8_t>(bytes >> (8 * i));
  }
}

hostlib::AvkRunState run_state(platform::HIC ic) {
  hostlib::AvkRunState st;
  if (platform::ICSendMessage(ic, hostlib::ICM_AVK_GET_RUN_STATE,
                              reinterpret_cast<platform::DWORD_PTR>(&st), sizeof st) != 0) {
    st = hostlib::AvkRunState{};
  }
  return st;
}

// The key frame at or before f; with no key frame flagged, frame 0.
std::uint32_t key_at_or_before(const ChunkIndex& index, std::uint32_t f) {
  const auto& keys = index.key_frames;
  const auto it = std::upper_bound(keys.begin(), keys.end(), f);
  return it == keys.begin() ? 0 : *(it - 1);
}

// The key frame before k, or kNone.
std::uint32_t key_before(const ChunkIndex& index, std::uint32_t k) {
  const auto& keys = index.key_frames;
  const auto it = std::lower_bound(keys.begin(), keys.end(), k);
  return it == keys.begin() ? SharedAviFile::kNone : *(it - 1);
}

// For a codec that codes every picture alone, the chunk a run for frame f starts at: the last
// chunk at or before f holding data (a 0-byte chunk shows the picture before it), looked for
// no further back than f's key frame.
std::uint32_t intra_start(const ChunkIndex& index, std::uint32_t f) {
  const std::uint32_t key = key_at_or_before(index, f);
  std::uint32_t c = f;
  while (c > key && index.entries[c].size == 0) --c;
  return c;
}

// A request at most this far before the frame the bitmap holds is a step backwards (the
// players step by up to 24 frames): its walk keeps the pictures it passes for the next steps.
// A longer jump back is a seek, and its walk stays hurried.
constexpr std::uint32_t kMaxStepBack = 24;

// Walk ceiling of one request in the numbering driver's walk: a start at the wanted key frame,
// and at most one fall-back to the key frame before for each open GOP's leading pictures.
constexpr int kMaxRunStarts = 4;

}  // namespace

std::uint32_t SharedAviFile::indexed_frames() const {
  const ChunkIndex* index = video_index();
  if (index == nullptr) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(index->entries.size(), kNone - 1));
}

std::uint64_t SharedAviFile::destination_bytes() const {
  const BITMAPINFOHEADER out = header_of(output_format_);
  return hostlib::dib_layout(out.biWidth, out.biHeight, out.biBitCount).bytes;
}

void SharedAviFile::forget_destination(const std::uint8_t* destination) {
  if (destination != nullptr && destination == run_destination_) run_destination_ = nullptr;
}

std::uint32_t SharedAviFile::read_chunk(std::uint32_t frame, std::uint8_t* buffer,
                                        std::uint64_t capacity) {
  const IndexEntry& e = video_index()->entries[frame];
  if (buffer == frame_buffer_.data() && e.size > frame_buffer_.size()) {
    if (!grow_frame_buffer(e.size)) return 0;
    buffer = frame_buffer_.data();
    capacity = frame_buffer_.size();
  }
  if (e.size == 0 || buffer == nullptr || capacity == 0) return 0;
  // Never more than the buffer holds, whatever the index claims.
  const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(e.size, capacity));
  return read_at(e.position, buffer, want);
}

// Frames before the first key frame cannot be decoded (their references are not in the file):
// they show the first key frame's picture. A stream that flags no key frame starts at frame 0.
std::uint32_t SharedAviFile::shown_frame(std::uint32_t frame) const {
  const auto& keys = video_index()->key_frames;
  return !keys.empty() && keys.front() > frame ? keys.front() : frame;
}

int SharedAviFile::decode_frame(std::uint32_t frame, std::uint8_t* destination) {
  if ((decoder_flags_ & AVC_DECODER_READY) == 0 || destination == nullptr) return 0;
  // A header may count more frames than the index holds: those have no chunk to read.
  if (frame >= frame_count() || frame >= indexed_frames()) return 0;
  if (decoder_ == nullptr && path_ == VideoPath::kDv) return decode_dv(frame, destination);
  if (decoder_ == nullptr && path_ == VideoPath::kRaw) return decode_raw(frame, destination);
  if (decoder_ == nullptr || (decoder_flags_ & AVC_DECOMPRESSING) == 0) return 0;
  const std::uint32_t shown = shown_frame(frame);
  if (!driver_numbers_pictures_) {
    if (shown == last_decoded_ && destination == run_destination_) return 1;
    return codec_walk(shown, destination);
  }
  return cached_walk(shown, destination);
}

// The numbering driver's walk behind the picture cache. Only this driver writes every picture
// whole, so a bitmap filled from the cache can go on taking the run's pictures; a plain codec
// may draw a frame as changes to the one before.
int SharedAviFile::cached_walk(std::uint32_t frame, std::uint8_t* destination) {
  const bool own = destination == run_destination_;
  if (own && frame == last_decoded_ && cached_shown_ == kNone) return 1;
  if (const std::uint8_t* picture = picture_cache_.find(frame);
      picture != nullptr && picture_cache_.picture_bytes() == destination_bytes()) {
    std::memcpy(destination, picture, picture_cache_.picture_bytes());
    if (own) cached_shown_ = frame;
    return 1;
  }
  const std::uint32_t held = own ? (cached_shown_ != kNone ? cached_shown_ : last_decoded_) : kNone;
  // The run's bitmap holds a cached picture: the decoder's own last picture is not in it, so
  // the run cannot simply stop where it stands.
  if (own && cached_shown_ != kNone && frame == last_decoded_) run_key_ = kNone;
  const bool step_back = held != kNone && frame < held && held - frame <= kMaxStepBack;
  if (step_back) {
    picture_cache_.set_limit(std::uint64_t{OptionsGet(kOptionPictureCacheMib, 0, 0)} << 20);
  }
  caching_ = step_back && picture_cache_.worth_keeping(frame, frame, destination_bytes());
  const int result = numbered_walk(frame, destination);
  caching_ = false;
  cached_shown_ = kNone;
  return result;
}

void SharedAviFile::keep_picture(std::uint32_t frame, std::uint32_t target) {
  const std::uint64_t bytes = destination_bytes();
  if (frame > target || !picture_cache_.worth_keeping(frame, target, bytes)) return;
  picture_cache_.put(frame, target, run_destination_, static_cast<std::size_t>(bytes));
}

std::uint32_t SharedAviFile::find_run_key(std::uint32_t frame) {
  const ChunkIndex* index = video_index();
  if (index == nullptr || frame >= index->entries.size()) return frame;
  if (index->entries[frame].key != 0 || intra_only_) return frame;
  // Unsigned on purpose: with no frame decoded yet, last + 1 is 0.
  if (run_key_ <= frame && frame <= last_decoded_ + 1) return run_key_;
  const auto& keys = index->key_frames;
  if (keys.empty()) return 0;  // nothing flagged: every run starts at the first frame
  const auto it = std::lower_bound(keys.begin(), keys.end(), frame);
  return it == keys.begin() ? keys.front() : *(it - 1);
}

// --- Uncompressed and DV -----------------------------------------------------------------------

int SharedAviFile::decode_raw(std::uint32_t frame, std::uint8_t* destination) {
  const BITMAPINFOHEADER in = header_of(input_format_);
  const BITMAPINFOHEADER out = header_of(output_format_);
  const std::uint64_t room = destination_bytes();
  const std::span<std::uint8_t> bitmap(destination, static_cast<std::size_t>(room));
  // A top-down stream (negative height) has its rows turned over on the way into the bitmap.
  if (in.biBitCount != out.biBitCount || in.biHeight < 0) {
    const std::uint32_t got = read_chunk(frame, frame_buffer_.data(), frame_buffer_.size());
    set_size_image(input_format_, got);
    if (got == 0) return 1;
    const std::span<const std::uint8_t> chunk(frame_buffer_.data(), got);
    const auto format = palette_track_.format_at(frame, *video_index(), input_format_, *this);
    if (in.biHeight < 0) {
      convert_top_down_raw_to_rgb24(format, chunk, bitmap);
    } else {
      convert_raw_to_rgb24(format, chunk, bitmap);
    }
    return 1;
  }
  // Read straight into the bitmap, but never more than it holds: a chunk larger than the
  // picture keeps only the picture's bytes.
  const std::uint32_t got = read_chunk(frame, destination, room);
  set_size_image(input_format_, got);
  // A short chunk: the part it does not hold is black, not a piece of an earlier frame.
  if (got > 0 && got < room) std::memset(destination + got, 0, room - got);
  return 1;
}

int SharedAviFile::decode_dv(std::uint32_t frame, std::uint8_t* destination) {
  const BITMAPINFOHEADER* stream = video_format();
  // Bound: the stream's height picks the system, and with it the bytes read and decoded. The
  // DSF bit of each frame is not asked: a damaged 525 frame claiming 625 would otherwise be
  // decoded over 144000 bytes of a 120000-byte buffer.
  const bool is625 = stream != nullptr && stream->biHeight == 576;
  const dv::PictureFormat picture = dv::picture_format(is625);
  const BITMAPINFOHEADER out = header_of(output_format_);
  platform::CriticalSectionLock lock(dv_frame_lock());
  if (frame_buffer_.size() < picture.frame_bytes || out.biBitCount != 24) return 0;
  const std::uint32_t got = read_chunk(frame, frame_buffer_.data(), frame_buffer_.size());
  if (got == 0) return 0;
  // A short chunk decodes with zeros for its missing blocks, never with another frame's bytes.
  if (got < picture.frame_bytes) {
    std::memset(frame_buffer_.data() + got, 0, picture.frame_bytes - got);
  }
  if (out.biWidth == 720 && out.biHeight == picture.height) {
    return dv_decode_frame(frame_buffer_.data(), destination, is625 ? 1 : 0);
  }
  // The decoder always writes a whole 720-wide picture; a stream that claims another size gets
  // the part of it that fits, aligned on the bottom-left corner as both are stored bottom-up.
  std::vector<std::uint8_t> whole(picture.bgr_bytes);
  const int result = dv_decode_frame(frame_buffer_.data(), whole.data(), is625 ? 1 : 0);
  const hostlib::DibLayout l = hostlib::dib_layout(out.biWidth, out.biHeight, 24);
  const std::size_t row = std::min<std::size_t>(static_cast<std::size_t>(l.pitch), 720 * 3);
  const int rows = std::min(out.biHeight, picture.height);
  for (int y = 0; y < rows; ++y) {
    std::memcpy(destination + static_cast<std::size_t>(y) * static_cast<std::size_t>(l.pitch),
                whole.data() + static_cast<std::size_t>(y) * 720 * 3, row);
  }
  return result;
}

// --- The codec walk ----------------------------------------------------------------------------

int SharedAviFile::codec_walk(std::uint32_t frame, std::uint8_t* destination) {
  if (destination != run_destination_) {
    // The run's pictures went into another bitmap: this one holds none of them.
    run_destination_ = destination;
    run_key_ = kNone;
    last_decoded_ = kNone;
  }
  std::uint32_t next = last_decoded_ + 1;
  const std::uint32_t key = find_run_key(frame);
  if (key != run_key_) {
    run_key_ = key;
    next = key;
  } else if (frame < last_decoded_) {
    next = run_key_;  // going back inside the run restarts it
  }
  // The chunk that draws the frame asked for: the frame itself, or the last chunk before it
  // that holds data, as 0-byte chunks show the picture before them.
  const auto& entries = video_index()->entries;
  std::uint32_t drawn = frame;
  while (drawn > next && entries[drawn].size == 0) --drawn;
  bool ok = true;
  // Ends: next grows by one a turn, and frame is an entry of the index.
  while (next <= frame && ok) {
    const std::uint32_t got = read_chunk(next, frame_buffer_.data(), frame_buffer_.size());
    if (got > 0) {
      set_size_image(input_format_, got);
      platform::DWORD flags = next == run_key_ ? 0 : platform::ICDECOMPRESS_NOTKEYFRAME;
      // Frames decoded only to reach the one asked for: the codec may spare their output.
      if (next < drawn) flags |= platform::ICDECOMPRESS_HURRYUP;
      ok = platform::ICDecompress(decoder_, flags, as_header(input_format_), frame_buffer_.data(),
                                  as_header(output_format_), destination) == platform::ICERR_OK;
    }
    ++next;
  }
  last_decoded_ = next - 1;
  return ok ? 1 : 0;
}

bool SharedAviFile::followed_by_dropped_frame(std::uint32_t chunk) const {
  const auto& entries = video_index()->entries;
  return std::uint64_t{chunk} + 1 < entries.size() && entries[chunk + 1].size == 0;
}

bool SharedAviFile::feed_chunk(std::uint32_t chunk, bool key, bool hurry) {
  // Chunks of 0 bytes go to the driver as well: it shows a dropped frame as a repeat.
  const std::uint32_t got = read_chunk(chunk, frame_buffer_.data(), frame_buffer_.size());
  set_size_image(input_format_, got);
  next_chunk_ = chunk + 1;
  platform::DWORD flags = key ? 0 : platform::ICDECOMPRESS_NOTKEYFRAME;
  if (hurry) flags |= platform::ICDECOMPRESS_HURRYUP;
  hurried_ = hurry;
  return platform::ICDecompress(decoder_, flags, as_header(input_format_), frame_buffer_.data(),
                                as_header(output_format_), run_destination_) == platform::ICERR_OK;
}

// Plays the run on until the bitmap holds `frame`. 1 when it does; 0 when the driver fails,
// the stream has no such picture, or (with *leading set) `frame` is shown before `key` and needs
// an earlier key frame.
int SharedAviFile::play_run_to(std::uint32_t frame, std::uint32_t key, bool* leading) {
  const std::int64_t want = std::int64_t{frame} - std::int64_t{key};
  const std::uint32_t chunks = indexed_frames();
  // The picture the run stands on was written before this walk, perhaps over by the cache.
  std::int64_t kept = caching_ ? run_state(decoder_).picture : -1;
  for (std::int64_t calls = 0; calls < want + hostlib::kAvkMaxLookahead; ++calls) {
    const hostlib::AvkRunState st = run_state(decoder_);
    if (caching_ && st.picture >= 0 && st.picture != kept && !hurried_) {
      kept = st.picture;
      keep_picture(key + static_cast<std::uint32_t>(st.picture), frame);
    }
    if (st.picture == want) return 1;
    if (st.first_picture > want) {
      *leading = true;
      return 0;
    }
    if (next_chunk_ < chunks) {
      // Each call gives at most the next picture, so while it lies before the one wanted the
      // call may be hurried: the driver then skips its output, or the whole decode of a
      // B-frame. Not a picture the cache would keep, nor a frame a dropped frame follows: that
      // one shows its picture again.
      const std::uint32_t next = key + static_cast<std::uint32_t>(st.picture + 1);
      const bool kept_next =
          caching_ && picture_cache_.worth_keeping(next, frame, destination_bytes());
      const bool hurry = !kept_next && st.picture >= 0 && st.picture + 1 < want &&
                         !followed_by_dropped_frame(next_chunk_);
      if (!feed_chunk(next_chunk_, false, hurry)) return 0;
    } else if (platform::ICSendMessage(decoder_, hostlib::ICM_AVK_DRAIN,
                                       reinterpret_cast<platform::DWORD_PTR>(run_destination_),
                                       0) != platform::ICERR_OK) {
      return 0;  // past the last picture the decoder can give
    }
  }
  return 0;
}

// The walk for a driver that numbers its pictures (hostlib/avcodec_driver.h): frame f is the
// f-th picture in display order, even with B-frames and open GOPs. A stream can have fewer
// pictures than chunks (libavcodec cannot give the last B-frames of a packed stream): a walk to
// such a frame fails, and the bitmap keeps the picture it held.
int SharedAviFile::numbered_walk(std::uint32_t frame, std::uint8_t* destination) {
  const ChunkIndex& index = *video_index();
  if (destination != run_destination_) {
    run_destination_ = destination;
    run_key_ = kNone;
  }
  std::uint32_t target = frame;
  // An intra-only codec never needs the frames before: every run starts at the frame itself,
  // whatever the index flags (MJPEG files often flag only their first frame).
  std::uint32_t key = intra_only_ ? intra_start(index, target) : key_at_or_before(index, target);
  for (int start = 0; start < kMaxRunStarts; ++start) {
    const hostlib::AvkRunState st = run_state(decoder_);
    const std::int64_t shown = run_key_ == kNone || st.picture < 0
                                   ? -1
                                   : std::int64_t{run_key_} + std::int64_t{st.picture};
    // Playing on across a key frame, or into the leading pictures of an open GOP, needs no
    // restart as long as the run has not passed the target. An intra-only run goes on from the
    // chunk it stands before, which costs what a new run would.
    const bool taken = intra_only_ ? next_chunk_ >= key : next_chunk_ > key;
    const bool go_on = run_key_ != kNone && shown <= std::int64_t{target} &&
                       (run_key_ == key || (run_key_ < key && taken));
    if (go_on) {
      key = run_key_;
    } else {
      run_key_ = key;
      if (!feed_chunk(key, true, false)) break;
    }
    bool leading = false;
    if (play_run_to(target, key, &leading) != 0) {
      last_decoded_ = target;
      return 1;
    }
    if (!leading) break;
    const std::uint32_t before = key_before(index, key);
    if (before == kNone) {
      // A leading picture of the first key frame has no references in the file: show the
      // run's first picture instead, as frames before the first key frame do.
      const hostlib::AvkRunState now = run_state(decoder_);
      target = key + static_cast<std::uint32_t>(std::max(now.first_picture, 0));
      continue;
    }
    key = before;
    run_key_ = kNone;
  }
  // The bitmap keeps what the driver last wrote into it; after a hurried call that is not the
  // run's picture, so the next request starts afresh.
  if (hurried_) {
    run_key_ = kNone;
    last_decoded_ = kNone;
    return 0;
  }
  const hostlib::AvkRunState st = run_state(decoder_);
  last_decoded_ = run_key_ != kNone && st.picture >= 0
                      ? run_key_ + static_cast<std::uint32_t>(st.picture)
                      : kNone;
  return 0;
}
