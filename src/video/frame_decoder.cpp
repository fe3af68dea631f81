// Frame reading and decompression: one frame of the selected video stream into a bitmap, by
// the codec (driven forward from the right key frame), the uncompressed path or the built-in DV
// decoder.
#include "dv/frame_decoder.h"

#include <avikit/options.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <span>

#include "hostlib/avcodec_driver.h"
#include "hostlib/dib_layout.h"
#include "video/raw_convert.h"
#include "video/shared_avi_file.h"

namespace avikit {

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

// A request at most this far before the frame the bitmap holds is a step backwards (the
// players step by up to 24 frames): its walk keeps the pictures it passes for the next steps.
// A longer jump back is a seek, and its walk stays hurried.
constexpr std::uint32_t kMaxStepBack = 24;

// Whether the driver writes every byte of a bitmap of this format: it leaves the padding at the
// ends of rows as it finds it, so only a bitmap without any can take a picture decoded elsewhere.
bool rows_unpadded(const BITMAPINFOHEADER& out) {
  const hostlib::DibLayout l = hostlib::dib_layout(out.biWidth, out.biHeight, out.biBitCount);
  const std::int64_t row_bits =
      std::int64_t{out.biWidth} * (out.biBitCount == 12 ? 8 : out.biBitCount);
  return l.bytes > 0 && std::int64_t{l.pitch} * 8 == row_bits;
}

}  // namespace

std::uint32_t SharedAviFile::indexed_frames() const {
  const ChunkIndex* index = container_.video_index();
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
  const IndexEntry& e = container_.video_index()->entries[frame];
  if (buffer == frame_buffer_.data() && e.size > frame_buffer_.size()) {
    if (!grow_frame_buffer(e.size)) return 0;
    buffer = frame_buffer_.data();
    capacity = frame_buffer_.size();
  }
  if (e.size == 0 || buffer == nullptr || capacity == 0) return 0;
  // Never more than the buffer holds, whatever the index claims.
  const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(e.size, capacity));
  return container_.read_at(e.position, buffer, want);
}

// Frames before the first key frame cannot be decoded (their references are not in the file):
// they show the first key frame's picture. A stream that flags no key frame starts at frame 0.
std::uint32_t SharedAviFile::shown_frame(std::uint32_t frame) const {
  const auto& keys = container_.video_index()->key_frames;
  return !keys.empty() && keys.front() > frame ? keys.front() : frame;
}

int SharedAviFile::decode_frame(std::uint32_t frame, std::uint8_t* destination) {
  if ((decoder_flags_ & AVC_DECODER_READY) == 0 || destination == nullptr) return 0;
  // A header may count more frames than the index holds: those have no chunk to read.
  if (frame >= container_.frame_count() || frame >= indexed_frames()) return 0;
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
  if (own && cached_shown_ != kNone && frame == last_decoded_) run_.key = kNone;
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
  const ChunkIndex* index = container_.video_index();
  if (index == nullptr || frame >= index->entries.size()) return frame;
  if (index->entries[frame].key != 0 || intra_only_) return frame;
  // Unsigned on purpose: with no frame decoded yet, last + 1 is 0.
  if (run_.key <= frame && frame <= last_decoded_ + 1) return run_.key;
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
    const auto format =
        palette_track_.format_at(frame, *container_.video_index(), input_format_, container_);
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
  const BITMAPINFOHEADER* stream = container_.video_format();
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
    return dv::dv_decode_frame(frame_buffer_.data(), destination, is625 ? 1 : 0);
  }
  // The decoder always writes a whole 720-wide picture; a stream that claims another size gets
  // the part of it that fits, aligned on the bottom-left corner as both are stored bottom-up.
  std::vector<std::uint8_t> whole(picture.bgr_bytes);
  const int result = dv::dv_decode_frame(frame_buffer_.data(), whole.data(), is625 ? 1 : 0);
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
    run_.key = kNone;
    last_decoded_ = kNone;
  }
  std::uint32_t next = last_decoded_ + 1;
  const std::uint32_t key = find_run_key(frame);
  if (key != run_.key) {
    run_.key = key;
    next = key;
  } else if (frame < last_decoded_) {
    next = run_.key;  // going back inside the run restarts it
  }
  // The chunk that draws the frame asked for: the frame itself, or the last chunk before it
  // that holds data, as 0-byte chunks show the picture before them.
  const auto& entries = container_.video_index()->entries;
  std::uint32_t drawn = frame;
  while (drawn > next && entries[drawn].size == 0) --drawn;
  bool ok = true;
  // Ends: next grows by one a turn, and frame is an entry of the index.
  while (next <= frame && ok) {
    const std::uint32_t got = read_chunk(next, frame_buffer_.data(), frame_buffer_.size());
    if (got > 0) {
      set_size_image(input_format_, got);
      platform::DWORD flags = next == run_.key ? 0 : platform::ICDECOMPRESS_NOTKEYFRAME;
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

// The file's chunks as the numbering driver's walk reads them, and the picture cache behind it.
// A picture worth keeping is decoded straight into a slot of the cache, which then adopts it,
// rather than into the bitmap and copied out: a step back through a run otherwise copies every
// picture of it once more. The bitmap catches up with the driver's last picture whenever a call
// goes to it again and when the walk ends, so it holds what it would have held.
class SharedAviFile::WalkSource final : public hostlib::WalkChunks {
 public:
  WalkSource(SharedAviFile& file, hostlib::WalkTarget& target)
      : file_(file),
        target_(target),
        bitmap_(static_cast<std::uint8_t*>(target.destination)),
        direct_(rows_unpadded(header_of(file.output_format_))) {}
  WalkSource(const WalkSource&) = delete;
  WalkSource& operator=(const WalkSource&) = delete;
  ~WalkSource() {
    to_bitmap();
    if (scratch_ != nullptr) file_.picture_cache_.release(scratch_);
  }

  std::uint32_t count() const override { return file_.indexed_frames(); }
  std::uint32_t size(std::uint32_t chunk) const override {
    return file_.container().video_index()->entries[chunk].size;
  }
  std::span<const std::uint32_t> key_frames() const override {
    return file_.container().video_index()->key_frames;
  }
  // Called by each chunk's call just before it, so the call's picture goes where it belongs.
  std::span<const std::uint8_t> read(std::uint32_t chunk) override {
    if (kept_next_ && direct_ && scratch_ == nullptr) {
      scratch_ = file_.picture_cache_.borrow(target_frame_, picture_size());
      if (scratch_ != nullptr) {
        seen_ = picture_now();
        target_.destination = scratch_;
      }
    } else if (!kept_next_) {
      to_bitmap();
    }
    kept_next_ = false;
    const std::uint32_t got =
        file_.read_chunk(chunk, file_.frame_buffer_.data(), file_.frame_buffer_.size());
    return {file_.frame_buffer_.data(), got};
  }
  bool worth_keeping(std::uint32_t frame, std::uint32_t target) override {
    kept_next_ = frame <= target &&
                 file_.picture_cache_.worth_keeping(frame, target, file_.destination_bytes());
    target_frame_ = target;
    return kept_next_;
  }
  void keep(std::uint32_t frame, std::uint32_t target) override {
    if (scratch_ == nullptr) return file_.keep_picture(frame, target);
    latest_ = scratch_;
    seen_ = picture_now();
    if (frame > target || !file_.picture_cache_.worth_keeping(frame, target, picture_size())) {
      return;
    }
    file_.picture_cache_.adopt(frame, target, scratch_);
    scratch_ = file_.picture_cache_.borrow(target, picture_size());
    if (scratch_ == nullptr) {
      to_bitmap();
    } else {
      target_.destination = scratch_;
    }
  }

 private:
  std::size_t picture_size() const { return static_cast<std::size_t>(file_.destination_bytes()); }
  std::int32_t picture_now() const {
    hostlib::AvkRunState st;
    if (platform::ICSendMessage(target_.ic, hostlib::ICM_AVK_GET_RUN_STATE,
                                reinterpret_cast<platform::DWORD_PTR>(&st), sizeof st) != 0) {
      return -1;
    }
    return st.picture;
  }
  // Points the driver at the bitmap again, copying in the last picture it wrote elsewhere. Only
  // unhurried calls go to a slot, so a new picture number since the last look is a picture the
  // driver wrote there.
  void to_bitmap() {
    if (target_.destination == bitmap_) return;
    if (picture_now() != seen_) latest_ = scratch_;
    if (latest_ != nullptr) std::memcpy(bitmap_, latest_, picture_size());
    latest_ = nullptr;
    target_.destination = bitmap_;
    if (scratch_ != nullptr) file_.picture_cache_.release(scratch_);
    scratch_ = nullptr;
  }

  SharedAviFile& file_;
  hostlib::WalkTarget& target_;
  std::uint8_t* const bitmap_;
  const bool direct_;                // pictures may be decoded into the cache's slots
  std::uint8_t* scratch_ = nullptr;  // the borrowed slot the driver writes into, or null
  std::uint8_t* latest_ = nullptr;   // the driver's last picture when the bitmap lacks it
  std::int32_t seen_ = -1;           // the driver's picture number when latest_ was settled
  std::uint32_t target_frame_ = 0;
  bool kept_next_ = false;  // the next call's picture is one to keep
};

// The walk for a driver that numbers its pictures (hostlib/codec_walk.h). A walk that fails
// leaves the bitmap with the picture it held.
int SharedAviFile::numbered_walk(std::uint32_t frame, std::uint8_t* destination) {
  if (destination != run_destination_) {
    run_destination_ = destination;
    run_.key = kNone;
  }
  hostlib::WalkTarget target;
  target.ic = decoder_;
  target.input = as_header(input_format_);
  target.output = as_header(output_format_);
  target.destination = destination;
  target.intra_only = intra_only_;
  bool ok = false;
  {
    WalkSource chunks(*this, target);
    ok = run_.walk_to(target, chunks, frame, caching_, &last_decoded_);
  }
  return ok ? 1 : 0;
}

}  // namespace avikit
