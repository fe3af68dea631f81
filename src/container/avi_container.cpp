#include "container/avi_container.h"

#include <optional>

#include "container/fourccs.h"

namespace avikit {

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
  riff_ = other.riff_;  // the name, never the handle
  video_type_name_ = other.video_type_name_;
  audio_type_name_ = other.audio_type_name_;
  video_index_ = other.video_index_ ? std::make_unique<ChunkIndex>(*other.video_index_) : nullptr;
  audio_index_ = other.audio_index_ ? std::make_unique<ChunkIndex>(*other.audio_index_) : nullptr;
  dv_audio_offsets_ = other.dv_audio_offsets_;
  dv_samples_per_10_frames_ = other.dv_samples_per_10_frames_;
  dv_channel2_offset_ = other.dv_channel2_offset_;
  return *this;
}

int AviContainer::open(const char* name) {
  if (name == nullptr) return 0;
  RiffReader reader;
  if (!reader.open(name)) return 0;
  // Compat: this also drops AVC_KEEP_HANDLE, so a reopened container no longer keeps its handle.
  if ((flags_ & AVC_OPENED) != 0) close();
  riff_ = std::move(reader);
  flags_ |= AVC_OPENED;

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
  chunk_records_.push_back(ChunkRecord{-1, kAvih, header.size, riff_.position()});
  return load_index();
}

void AviContainer::close() {
  video_index_.reset();
  audio_index_.reset();
  stream_table_.reset();
  riff_.close();
  flags_ = 0;
  chunk_records_.clear();
  video_type_name_.clear();
  audio_type_name_.clear();
  dv_audio_offsets_.clear();
  dv_samples_per_10_frames_ = 0;
  dv_channel2_offset_ = 0;
}

void AviContainer::close_handle() { riff_.drop(); }

bool AviContainer::reopen_handle() { return riff_.reopen(); }

AviContainer::FileLease::FileLease(AviContainer& owner) : owner_(owner) {
  if (!owner_.riff_.holds_file()) opened_ = owner_.reopen_handle();
}

AviContainer::FileLease::~FileLease() {
  if (opened_ && (owner_.flags_ & AVC_KEEP_HANDLE) == 0) owner_.close_handle();
}

std::uint32_t AviContainer::read_chunk_header(ChunkHeader& header, bool may_skip) {
  std::optional<std::uint64_t> end;
  if (stream_table_) end = stream_table_->file_size;
  return riff_.read_chunk_header(header, may_skip, end);
}

void AviContainer::seek_tracked(std::int64_t distance, SeekOrigin origin) {
  riff_.seek(distance, origin);
}

std::uint32_t AviContainer::read_bytes(void* buffer, std::uint32_t count) {
  return riff_.read(buffer, count);
}

std::uint32_t AviContainer::read_at(std::uint64_t position, void* buffer, std::uint32_t count) {
  return riff_.read_at(position, buffer, count);
}

const char* AviContainer::file_name() const {
  return riff_.name().empty() ? nullptr : riff_.name().c_str();
}

const ChunkRecord* AviContainer::find_chunk_record(std::uint32_t id, std::int32_t stream) const {
  for (const ChunkRecord& r : chunk_records_) {
    if (r.fourcc == id && r.stream == stream) return &r;
  }
  return nullptr;
}

}  // namespace avikit
