// Navigation: the key frames a step or a seek lands on, and the reader's moves.
#include <algorithm>

#include "video/media_reader.h"

namespace avikit {

std::uint32_t SharedAviFile::nearest_key_frame(std::uint32_t target) {
  const ChunkIndex* index = container_.video_index();
  if (index == nullptr || target >= index->entries.size()) return target;
  const auto& keys = index->key_frames;
  if (index->entries[target].key != 0 || keys.empty()) return target;
  const auto it = std::lower_bound(keys.begin(), keys.end(), target);
  if (it == keys.end()) return keys.back();
  const std::uint32_t after = *it;
  if (it == keys.begin()) return after;
  const std::uint32_t before = *(it - 1);
  return target - before < after - target ? before : after;  // a tie goes to the later one
}

std::int32_t SharedAviFile::next_key_frame(std::int32_t key, bool forward) {
  const ChunkIndex* index = container_.video_index();
  if (index == nullptr || index->key_frames.empty() || key < 0) return -1;
  const auto& keys = index->key_frames;
  auto k = static_cast<std::uint32_t>(key);
  if (forward) {
    if (k >= keys.back()) return -1;
    // k + 1 <= the last key frame, so it is an entry of the index.
    if (index->entries[k + 1].key != 0) return static_cast<std::int32_t>(k + 1);
    return static_cast<std::int32_t>(*std::lower_bound(keys.begin(), keys.end(), k + 1));
  }
  if (k == run_.key && k > 0) --k;
  if (k <= keys.front()) return -1;
  if (k == last_decoded_) return static_cast<std::int32_t>(run_.key);
  if (k < index->entries.size() && index->entries[k].key != 0) return static_cast<std::int32_t>(k);
  if (run_.key <= k && k <= last_decoded_ + 1) return static_cast<std::int32_t>(run_.key);
  const auto it = std::lower_bound(keys.begin(), keys.end(), k);
  return static_cast<std::int32_t>(it == keys.begin() ? keys.front() : *(it - 1));
}

// A key-frame step aimed outside the stream aims at its first or last frame instead: there is
// no index entry out there to look at. A step that finds no further key frame in its direction
// goes past the stream's end (forward: is_end then holds, as after an exact step off the last
// frame) or to frame 0 (backward), so that a host stepping until the end or the start arrives.
std::uint32_t MediaReader::key_step_target(std::int64_t target, bool forward) {
  const std::uint32_t frames = file_->indexed_frames();
  if (frames == 0) return static_cast<std::uint32_t>(target);
  const auto aim = static_cast<std::uint32_t>(std::clamp<std::int64_t>(target, 0, frames - 1));
  const std::uint32_t key = file_->nearest_key_frame(aim);
  if (key == aim) return aim;
  const std::int32_t next = file_->next_key_frame(static_cast<std::int32_t>(key), forward);
  if (next >= 0) return static_cast<std::uint32_t>(next);
  return forward ? std::max(file_->container().frame_count(), frames) : 0;
}

std::int32_t MediaReader::step_forward(std::int32_t n, int exact) {
  if (file_ == nullptr) return n;
  if (frame_.header == nullptr) prepare_output(-1, 0);
  if (exact != 0) {
    // 32-bit steps, as positions are: a target outside the stream is kept and not decoded.
    position_ += static_cast<std::uint32_t>(n);
  } else {
    const auto from = static_cast<std::int32_t>(position_);
    position_ = key_step_target(std::int64_t{from} + n, true);
  }
  decode_position();
  return n;
}

std::int32_t MediaReader::step_backward(std::int32_t n, int exact) {
  if (file_ == nullptr) return n;
  if (frame_.header == nullptr) prepare_output(-1, 0);
  if (exact != 0) {
    position_ -= static_cast<std::uint32_t>(n);
  } else {
    const auto from = static_cast<std::int32_t>(position_);
    position_ = key_step_target(std::int64_t{from} - n, false);
  }
  decode_position();
  return n;
}

std::uint32_t MediaReader::seek_frame(std::uint32_t frame, int exact) {
  if (file_ == nullptr) return position_;
  if (frame_.header == nullptr) prepare_output(-1, 0);
  position_ = exact != 0 ? frame : file_->nearest_key_frame(frame);
  decode_position();
  return position_;
}

}  // namespace avikit
