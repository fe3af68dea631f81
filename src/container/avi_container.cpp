#include "container/avi_container.h"

#include <optional>

#include "container/fourccs.h"
#include "container/header_parser.h"
#include "container/index_loader.h"

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
      other.stream_table_ ? std::make_unique<const StreamTable>(*other.stream_table_) : nullptr;
  streams_ = other.streams_;
  flags_ = other.flags_;
  chunk_records_ = other.chunk_records_;
  riff_ = other.riff_;  // the source, never the handle
  video_type_name_ = other.video_type_name_;
  audio_type_name_ = other.audio_type_name_;
  video_index_ = other.video_index_ ? std::make_unique<ChunkIndex>(*other.video_index_) : nullptr;
  audio_index_ = other.audio_index_ ? std::make_unique<ChunkIndex>(*other.audio_index_) : nullptr;
  return *this;
}

int AviContainer::open(const platform::FileSource& source) {
  if (source.empty()) return 0;
  RiffReader reader;
  if (!reader.open(source)) return 0;
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
  if (header.list_type == kWaveForm) {
    std::optional<ParsedHeaders> wave = HeaderParser(riff_).parse_wave();
    if (!wave) return 0;
    chunk_records_.insert(chunk_records_.end(), wave->records.begin(), wave->records.end());
    stream_table_ = std::make_unique<const StreamTable>(std::move(wave->table));
    streams_ = StreamState{stream_table_->video, stream_table_->audio, stream_table_->dv_sound};
    flags_ |= AVC_HEADERS | AVC_INDEXED | AVC_WAVE;
    return 1;
  }
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
  streams_ = StreamState{};
  riff_.close();
  flags_ = 0;
  chunk_records_.clear();
  video_type_name_.clear();
  audio_type_name_.clear();
}

int AviContainer::parse_headers() {
  if ((flags_ & AVC_OPENED) == 0) return 0;
  if ((flags_ & AVC_HEADERS) != 0) return stream_table_ ? 1 : 0;
  FileLease lease(*this);
  if (!lease.ok() || chunk_records_.empty() || chunk_records_.front().fourcc != kAvih) return 0;
  // A failed parse leaves no trace, so a later attempt starts clean.
  std::optional<ParsedHeaders> parsed = HeaderParser(riff_).parse_avi(chunk_records_.front());
  if (!parsed) return 0;
  chunk_records_.insert(chunk_records_.end(), parsed->records.begin(), parsed->records.end());
  stream_table_ = std::make_unique<const StreamTable>(std::move(parsed->table));
  streams_ = StreamState{stream_table_->video, stream_table_->audio, stream_table_->dv_sound};
  flags_ |=
      AVC_HEADERS | (parsed->dv_type1 ? AVC_DV_TYPE1 : 0) | (parsed->has_indx ? AVC_HAS_INDX : 0);
  return 1;
}

int AviContainer::load_index() {
  if ((flags_ & AVC_OPENED) == 0 || parse_headers() == 0) return 0;
  if ((flags_ & AVC_INDEXED) != 0) return 1;
  // The probe loaded the figures of every stream at once: a selection needs no second pass.
  if ((flags_ & AVC_ALL_FIGURES) != 0) {
    flags_ |= AVC_INDEXED;
    return 1;
  }
  FileLease lease(*this);
  if (!lease.ok()) return 0;
  IndexOptions options;
  options.figures_only = (flags_ & AVC_KEEP_HANDLE) == 0;
  options.leave_out_video = (flags_ & (AVC_SOUND_ONLY | AVC_DV_TYPE1)) == AVC_SOUND_ONLY;
  options.dv_type1 = (flags_ & AVC_DV_TYPE1) != 0;
  options.has_indx = (flags_ & AVC_HAS_INDX) != 0;
  options.video_held = video_index_ != nullptr;
  options.audio_held = audio_index_ != nullptr;
  std::optional<LoadedIndex> loaded =
      IndexLoader(riff_, *stream_table_, chunk_records_, streams_, options).load();
  if (!loaded) return 0;
  if (loaded->movi) chunk_records_.push_back(*loaded->movi);
  // Indexes already handed out keep their address.
  const auto take = [](std::unique_ptr<ChunkIndex>& held, std::unique_ptr<ChunkIndex>& fresh) {
    if (!fresh) return;
    if (held) {
      *held = std::move(*fresh);
    } else {
      held = std::move(fresh);
    }
  };
  take(video_index_, loaded->video);
  take(audio_index_, loaded->audio);
  flags_ &= ~AVC_REBUILT;
  if (loaded->rebuilt) flags_ |= AVC_REBUILT;
  if (options.figures_only) flags_ |= AVC_ALL_FIGURES;
  flags_ |= AVC_INDEXED;
  return 1;
}

int AviContainer::index_video() {
  if ((flags_ & AVC_SOUND_ONLY) != 0) flags_ &= ~(AVC_SOUND_ONLY | AVC_INDEXED);
  return load_index();
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
  return riff_.source().empty() ? nullptr : riff_.name().c_str();
}

const ChunkRecord* AviContainer::find_chunk_record(std::uint32_t id, std::int32_t stream) const {
  return avikit::find_chunk_record(chunk_records_, id, stream);
}

}  // namespace avikit
