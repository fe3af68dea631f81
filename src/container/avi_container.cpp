#include "container/avi_container.h"

#include "container/fourccs.h"

using namespace container;

namespace {

platform::HANDLE open_for_reading(const char* name) {
  platform::HANDLE h =
      platform::CreateFileA(name, platform::GENERIC_READ, platform::FILE_SHARE_READ, nullptr,
                            platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == platform::INVALID_HANDLE_VALUE ? nullptr : h;
}

// Closes a handle that open() has not yet handed to the container.
class PendingHandle {
 public:
  explicit PendingHandle(platform::HANDLE h) noexcept : h_(h) {}
  ~PendingHandle() {
    if (h_ != nullptr) platform::CloseHandle(h_);
  }
  PendingHandle(const PendingHandle&) = delete;
  PendingHandle& operator=(const PendingHandle&) = delete;
  platform::HANDLE get() const { return h_; }
  platform::HANDLE release() noexcept { return std::exchange(h_, nullptr); }

 private:
  platform::HANDLE h_;
};

}  // namespace

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
  PendingHandle handle(open_for_reading(name));
  if (handle.get() == nullptr) return 0;
  // Compat: this also drops AVC_KEEP_HANDLE, so a reopened container no longer keeps its handle.
  if ((flags_ & AVC_OPENED) != 0) close();
  close_handle();
  file_ = handle.release();
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
  close_handle();
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

void AviContainer::close_handle() {
  if (file_ != nullptr) platform::CloseHandle(file_);
  file_ = nullptr;
}

bool AviContainer::reopen_handle() {
  if (file_ != nullptr) return true;
  if (file_name_.empty()) return false;
  file_ = open_for_reading(file_name_.c_str());
  tracked_position_ = 0;  // A fresh handle stands at the start of the file.
  return file_ != nullptr;
}

AviContainer::FileLease::FileLease(AviContainer& owner) : owner_(owner) {
  if (owner_.file_ == nullptr) opened_ = owner_.reopen_handle();
}

AviContainer::FileLease::~FileLease() {
  if (opened_ && (owner_.flags_ & AVC_KEEP_HANDLE) == 0) owner_.close_handle();
}

void AviContainer::seek_tracked(std::int64_t distance, SeekOrigin origin) {
  if (distance <= 0 || file_ == nullptr) return;
  const auto bits = static_cast<std::uint64_t>(distance);
  auto high = static_cast<platform::LONG>(static_cast<std::uint32_t>(bits >> 32));
  const auto low = static_cast<platform::LONG>(static_cast<std::uint32_t>(bits));
  const platform::DWORD method =
      origin == SeekOrigin::kBegin ? platform::FILE_BEGIN : platform::FILE_CURRENT;
  platform::SetLastError(platform::ERROR_SUCCESS);
  const platform::DWORD r = platform::SetFilePointer(file_, low, &high, method);
  if (r == platform::INVALID_SET_FILE_POINTER &&
      platform::GetLastError() != platform::ERROR_SUCCESS) {
    return;
  }
  if (origin == SeekOrigin::kBegin) {
    tracked_position_ = bits;
  } else {
    tracked_position_ += bits;
  }
}

std::uint32_t AviContainer::read_bytes(void* buffer, std::uint32_t count) {
  if (file_ == nullptr || buffer == nullptr || count == 0) return 0;
  platform::DWORD done = 0;
  platform::ReadFile(file_, buffer, count, &done, nullptr);
  tracked_position_ += done;
  return done;
}

std::uint32_t AviContainer::read_at(std::uint64_t position, void* buffer, std::uint32_t count) {
  if (file_ == nullptr) return 0;
  if (position > static_cast<std::uint64_t>(INT64_MAX)) return 0;
  if (position == 0) {
    // seek_tracked never moves to 0; this helper means an exact position.
    auto high = platform::LONG{0};
    if (platform::SetFilePointer(file_, 0, &high, platform::FILE_BEGIN) != 0) return 0;
    tracked_position_ = 0;
  } else {
    seek_tracked(static_cast<std::int64_t>(position), SeekOrigin::kBegin);
    if (tracked_position_ != position) return 0;
  }
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
