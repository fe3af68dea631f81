#include "container/avi_container.h"

#include <cstddef>
#include <span>

#include "container/fourccs.h"

using namespace container;

AviContainer::AviContainer(bool keep_handle) : flags_(keep_handle ? AVC_KEEP_HANDLE : 0) {}

AviContainer::~AviContainer() {
  if ((flags_ & AVC_OPENED) != 0) close();
  close_handle();  // A handle is only held while opened; this is the belt to that brace.
}

AviContainer::AviContainer(const AviContainer& other) : flags_(0) { *this = other; }

AviContainer& AviContainer::operator=(const AviContainer& other) {
  if (this == &other) return *this;
  if ((flags_ & AVC_OPENED) != 0) close();
  stream_table_ =
      other.stream_table_ ? std::make_unique<StreamTable>(*other.stream_table_) : nullptr;
  flags_ = other.flags_;
  chunk_records_ = other.chunk_records_;
  file_name_ = other.file_name_;
  video_type_name_ = other.video_type_name_;
  audio_type_name_ = other.audio_type_name_;
  video_index_ = other.video_index_ ? std::make_unique<ChunkIndex>(*other.video_index_) : nullptr;
  audio_index_ = other.audio_index_ ? std::make_unique<ChunkIndex>(*other.audio_index_) : nullptr;
  dv_audio_offsets_ = other.dv_audio_offsets_;
  dv_samples_per_10_frames_ = other.dv_samples_per_10_frames_;
  dv_channel2_offset_ = other.dv_channel2_offset_;
  close_handle();
  tracked_position_ = 0;
  return *this;
}

int AviContainer::open(const char* name) {
  if (name == nullptr) return 0;
  platform::File file;
  if (!file.open(name)) return 0;
  // Compat: this also drops AVC_KEEP_HANDLE, so a reopened container no longer keeps its handle.
  if ((flags_ & AVC_OPENED) != 0) close();
  file_ = std::move(file);
  tracked_position_ = 0;
  flags_ |= AVC_OPENED;
  file_name_ = name;

  const int result = open_riff();
  if (result == 0) {
    close();
    return 0;
  }
  if ((flags_ & AVC_KEEP_HANDLE) == 0) close_handle();
  return result;
}

// The RIFF form decides: "AVI " with "LIST" "hdrl" and "avih" first, or "WAVE".
int AviContainer::open_riff() {
  ChunkHeader header;
  if (read_chunk_header(header, false) != kRiff) return 0;
  if (header.list_type == kWaveForm) return parse_wave();
  if (header.list_type != kAviForm) return 0;
  if (read_chunk_header(header, false) != kList || header.list_type != kHdrl) return 0;
  if (read_chunk_header(header, true) != kAvih) return 0;
  chunk_records_.push_back(ChunkRecord{-1, kAvih, header.size, tracked_position_});
  return load_index();
}

void AviContainer::close() {
  video_index_.reset();
  audio_index_.reset();
  stream_table_.reset();
  file_ = platform::File();
  flags_ = 0;
  chunk_records_.clear();
  file_name_.clear();
  video_type_name_.clear();
  audio_type_name_.clear();
  dv_audio_offsets_.clear();
  tracked_position_ = 0;
  dv_samples_per_10_frames_ = 0;
  dv_channel2_offset_ = 0;
}

void AviContainer::close_handle() { file_.drop(); }

bool AviContainer::reopen_handle() {
  if (file_.is_open()) return true;
  if (file_name_.empty()) return false;
  if (!file_.open(file_name_)) return false;
  tracked_position_ = 0;  // A fresh handle stands at the start of the file.
  return true;
}

AviContainer::FileLease::FileLease(AviContainer& owner) : owner_(owner) {
  if (!owner_.file_.is_open()) opened_ = owner_.reopen_handle();
}

AviContainer::FileLease::~FileLease() {
  if (opened_ && (owner_.flags_ & AVC_KEEP_HANDLE) == 0) owner_.close_handle();
}

void AviContainer::seek_tracked(std::int64_t distance, SeekOrigin origin) {
  if (distance <= 0 || !file_.is_open()) return;
  const auto bits = static_cast<std::uint64_t>(distance);
  if (origin == SeekOrigin::kBegin) {
    tracked_position_ = bits;
  } else if (tracked_position_ <= static_cast<std::uint64_t>(INT64_MAX) - bits) {
    tracked_position_ += bits;
  }
}

std::uint32_t AviContainer::read_bytes(void* buffer, std::uint32_t count) {
  if (!file_.is_open() || buffer == nullptr || count == 0) return 0;
  const platform::ReadResult r =
      file_.read_at(tracked_position_, std::span(static_cast<std::byte*>(buffer), count));
  tracked_position_ += r.bytes;
  return static_cast<std::uint32_t>(r.bytes);
}

std::uint32_t AviContainer::read_at(std::uint64_t position, void* buffer, std::uint32_t count) {
  if (!file_.is_open()) return 0;
  if (position > static_cast<std::uint64_t>(INT64_MAX)) return 0;
  tracked_position_ = position;
  return read_bytes(buffer, count);
}

const char* AviContainer::file_name() const {
  return file_name_.empty() ? nullptr : file_name_.c_str();
}

const ChunkRecord* AviContainer::find_chunk_record(std::uint32_t id, std::int32_t stream) const {
  for (const ChunkRecord& r : chunk_records_) {
    if (r.fourcc == id && r.stream == stream) return &r;
  }
  return nullptr;
}
