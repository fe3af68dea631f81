#include "container/avi_file_info.h"

#include <new>
#include <string>
#include <vector>

#include "audio/stream_format.h"
#include "container/avi_container.h"
#include "container/fourccs.h"
#include "container/open_error.h"
#include "hostlib/audio_decoder.h"

namespace {

constexpr std::int32_t kHoldsResult = 2;
constexpr int kMaxStreamsPerKind = 32;

constexpr std::uint32_t kStatusNoVideo = 11;
constexpr std::uint32_t kStatusNoAudio = 12;

}  // namespace

class AviFileInfoImpl {
 public:
  AviFileInfoImpl() : container(false) {}
  virtual ~AviFileInfoImpl() = default;
  AviFileInfoImpl(const AviFileInfoImpl&) = delete;
  AviFileInfoImpl& operator=(const AviFileInfoImpl&) = delete;

  int probe(const char* name, std::uint32_t* status);
  int check_audio(const char* name, int stream, AudioInfo& info);

  std::vector<AudioInfo> audio;
  std::vector<VideoInfo> video;
  std::vector<std::string> video_names;
  std::vector<char*> video_name_pointers;  // what get_video_type_name hands out
  AviContainer container;
  int users = 1;  // AviFileInfo copies sharing this result
};

// 0 when the selected audio stream can be decoded; `info` is filled either way. The answer is
// the audio player's own test (its AudioDecoder takes the format), so that every stream listed
// plays and every stream withheld fails to open in the player. Chunks shorter than a block do
// not matter: the player reads the stream as one run of bytes.
int AviFileInfoImpl::check_audio(const char* name, int stream, AudioInfo& info) {
  container.describe_audio_stream(info);
  const platform::WAVEFORMATEX* format = container.audio_format();
  if (format == nullptr) return 1;
  AudioDecoder decoder;
  if (decoder.set_input_format(*format) == 0) return 2;
  // Sound lasts as long as its samples or compressed frames say, as the player measures it: a
  // header's byte rate can lie (an AC-3 copy declaring 18,432,000 bytes/s lasts 4 ms by it,
  // ffmpeg's ADPCM rates are rounded). The probe's container drops its indexes, so the stream is
  // measured through one that keeps them.
  if (container.is_dv_type1() == 0) {
    AviContainer reader(true);
    if (reader.open(name) != 0 && reader.select_audio_stream(stream) != 0) {
      const double length = audio::measured_timing(reader).length;
      if (length > 0.0) info.length = length;
    }
  }
  return 0;
}

int AviFileInfoImpl::probe(const char* name, std::uint32_t* status) {
  if (container.open(name) == 0) return 1;
  const int video_count = container.video_stream_count();
  const int audio_count = container.audio_stream_count();
  std::uint32_t video_streams[kMaxStreamsPerKind] = {};
  std::uint32_t audio_streams[kMaxStreamsPerKind] = {};
  const int listed_video = container.video_stream_numbers(video_streams, kMaxStreamsPerKind);
  const int listed_audio = container.audio_stream_numbers(audio_streams, kMaxStreamsPerKind);

  std::uint32_t first_handler = 0;
  for (int i = 0; i < listed_video; ++i) {
    if (container.select_video_stream(static_cast<int>(video_streams[i])) == 0) continue;
    if (i == 0) {
      first_handler =
          container.is_dv_type1() != 0 ? container::kIavs : container.video_handler_fourcc();
    }
    const char* type_name = container.video_type_name();
    if (type_name == nullptr) continue;
    video_names.emplace_back(type_name);
    VideoInfo info;
    container.describe_video_stream(info);
    video.push_back(info);
  }
  if (status != nullptr && video_count > 0 && video.empty()) {
    status[0] = kStatusNoVideo;
    status[1] = first_handler;
  }

  std::uint32_t first_tag = 0;
  for (int i = 0; i < listed_audio; ++i) {
    if (container.select_audio_stream(static_cast<int>(audio_streams[i])) == 0) continue;
    const platform::WAVEFORMATEX* format = container.audio_format();
    if (i == 0 && format != nullptr) first_tag = format->wFormatTag;
    AudioInfo info;
    if (check_audio(name, static_cast<int>(audio_streams[i]), info) != 0) continue;
    info.stream = static_cast<std::int32_t>(audio_streams[i]);
    audio.push_back(info);
  }
  if (status != nullptr && status[0] == 0 && audio_count > 0 && audio.empty()) {
    status[0] = kStatusNoAudio;
    status[1] = first_tag;
  }

  video.shrink_to_fit();
  audio.shrink_to_fit();
  for (std::string& s : video_names) video_name_pointers.push_back(s.data());
  if (!video.empty() || !audio.empty()) return 0;
  container.close();
  return status != nullptr && status[0] != 0 ? static_cast<int>(status[0]) : 1;
}

AviFileInfo::AviFileInfo() = default;

AviFileInfo::AviFileInfo(const AviFileInfo& other) : state_(other.state_), impl_(other.impl_) {
  if (state_ == kHoldsResult && impl_ != nullptr) ++impl_->users;
}

AviFileInfo& AviFileInfo::operator=(const AviFileInfo& other) {
  if (this == &other) return *this;
  if (other.state_ == kHoldsResult && other.impl_ != nullptr) ++other.impl_->users;
  release();
  state_ = other.state_;
  impl_ = other.impl_;
  return *this;
}

AviFileInfo::~AviFileInfo() { release(); }

void AviFileInfo::release() noexcept {
  // Copies share the result by pointer; the last one to let go deletes it (the new is in open).
  if (state_ == kHoldsResult && impl_ != nullptr && --impl_->users == 0) delete impl_;
  impl_ = nullptr;
  state_ = 0;
}

int AviFileInfo::open(const char* name, std::uint32_t* status) {
  release();
  try {
    impl_ = new AviFileInfoImpl();  // Owned until release(), which deletes it.
    state_ = kHoldsResult;
    const int result = impl_->probe(name, status);
    if (result != 0) release();
    container::note_open_result(name, result, container::OpenKind::kProbe);
    return result;
  } catch (...) {
    release();
    container::note_open_result(name, 1, container::OpenKind::kProbe);
    return 1;
  }
}

const char* AviFileInfo::get_type_name() const {
  if (state_ != kHoldsResult) return nullptr;
  try {
    return impl_->container.file_type_name();
  } catch (...) {
    return nullptr;
  }
}

const char* AviFileInfo::get_file_name() const {
  return state_ == kHoldsResult ? impl_->container.file_name() : nullptr;
}

double AviFileInfo::get_file_size() const {
  if (state_ != kHoldsResult) return 0.0;
  try {
    return static_cast<double>(impl_->container.file_size());
  } catch (...) {
    return 0.0;
  }
}

double AviFileInfo::get_length() const {
  if (state_ != kHoldsResult) return 0.0;
  try {
    AviContainer& c = impl_->container;
    if (impl_->video.empty()) {
      return impl_->audio.empty() ? c.audio_length() : impl_->audio.front().length;
    }
    const double rate = c.frame_rate();
    return rate > 0.0 ? c.frame_count() / rate : 0.0;
  } catch (...) {
    return 0.0;
  }
}

int AviFileInfo::index_rebuilt() const {
  return state_ == kHoldsResult ? impl_->container.index_rebuilt() : 0;
}

int AviFileInfo::get_bit_rate() const {
  if (state_ != kHoldsResult) return 0;
  try {
    const float kbits = impl_->container.video_bit_rate();
    return kbits >= 0.0f && kbits < 2147483647.0f ? static_cast<int>(kbits) : 0;
  } catch (...) {
    return 0;
  }
}

const VideoInfo* AviFileInfo::get_video_info(int& count) const {
  if (state_ != kHoldsResult) return nullptr;
  count = static_cast<int>(impl_->video.size());
  return impl_->video.data();
}

const AudioInfo* AviFileInfo::get_audio_info(int& count) const {
  if (state_ != kHoldsResult) return nullptr;
  count = static_cast<int>(impl_->audio.size());
  return impl_->audio.data();
}

char** AviFileInfo::get_video_type_name() const {
  if (state_ != kHoldsResult || impl_->video_name_pointers.empty()) return nullptr;
  return impl_->video_name_pointers.data();
}
