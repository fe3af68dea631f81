#include <avikit/avi_file_info.h>

#include <string>
#include <vector>

#include "audio/stream_format.h"
#include "container/avi_container.h"
#include "container/fourccs.h"
#include "container/open_error.h"
#include "container/shell.h"
#include "hostlib/audio_decoder.h"

namespace avikit {

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

  int probe(const platform::FileSource& source, std::uint32_t* status);
  int check_audio(AudioInfo& info);

  std::vector<AudioInfo> audio;
  std::vector<VideoInfo> video;
  std::vector<std::string> video_names;
  std::vector<char*> video_name_pointers;  // what get_video_type_name hands out
  AviContainer container;
};

// 0 when the selected audio stream can be decoded; `info` is filled either way. The answer is
// the audio player's own test (its AudioDecoder takes the format), so that every stream listed
// plays and every stream withheld fails to open in the player. Chunks shorter than a block do
// not matter: the player reads the stream as one run of bytes.
int AviFileInfoImpl::check_audio(AudioInfo& info) {
  container.describe_audio_stream(info);
  const platform::WAVEFORMATEX* format = container.audio_format();
  if (format == nullptr) return 1;
  AudioDecoder decoder;
  if (decoder.set_input_format(*format) == 0) return 2;
  // Sound lasts as long as its samples or compressed frames say, as the player measures it: a
  // header's byte rate can lie (an AC-3 copy declaring 18,432,000 bytes/s lasts 4 ms by it,
  // ffmpeg's ADPCM rates are rounded). The probe's container keeps figures only, and the
  // first chunks of each stream to measure frames from.
  if (container.is_dv_type1() == 0) {
    const double length = audio::measured_timing(container).length;
    if (length > 0.0) info.length = length;
  }
  return 0;
}

int AviFileInfoImpl::probe(const platform::FileSource& source, std::uint32_t* status) {
  if (container.open(source) == 0) return 1;
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
    if (check_audio(info) != 0) continue;
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

using shell::call;
using Impl = AviFileInfoImpl;

namespace {

// What open() does for either kind of source: a fresh result in place of the one held (the
// shell's impl_ and state_), kept only when the probe succeeds.
int probe_source(Impl*& impl, std::int32_t& state, const platform::FileSource& source,
                 std::uint32_t* status) {
  shell::release(impl);
  impl = shell::make<Impl>();
  state = impl != nullptr ? kHoldsResult : 0;
  const int result = call(impl, 1, [&](Impl& p) { return p.probe(source, status); });
  if (result != 0) {
    shell::release(impl);
    state = 0;
  }
  container::note_open_result(source, result, container::OpenKind::kProbe);
  return result;
}

}  // namespace

// Copies share one probe result (container/shell.h); impl_ is null while none is held.
AviFileInfo::AviFileInfo() = default;

AviFileInfo::AviFileInfo(const AviFileInfo& other)
    : state_(other.state_), impl_(shell::share(other.impl_)) {}

AviFileInfo& AviFileInfo::operator=(const AviFileInfo& other) {
  shell::assign(impl_, other.impl_);
  state_ = other.state_;
  return *this;
}

AviFileInfo::~AviFileInfo() { release(); }

void AviFileInfo::release() noexcept {
  shell::release(impl_);
  state_ = 0;
}

int AviFileInfo::open(const char* name, std::uint32_t* status) {
  return probe_source(impl_, state_, shell::source_of(name), status);
}

int AviFileInfo::open(const InMemoryFile& file, std::uint32_t* status) {
  return probe_source(impl_, state_, shell::source_of(file), status);
}

const char* AviFileInfo::get_type_name() const {
  return call(impl_, static_cast<const char*>(nullptr),
              [](Impl& p) { return p.container.file_type_name(); });
}

const char* AviFileInfo::get_file_name() const {
  return call(impl_, static_cast<const char*>(nullptr),
              [](Impl& p) { return p.container.file_name(); });
}

double AviFileInfo::get_file_size() const {
  return call(impl_, 0.0, [](Impl& p) { return static_cast<double>(p.container.file_size()); });
}

double AviFileInfo::get_length() const {
  return call(impl_, 0.0, [](Impl& p) {
    AviContainer& c = p.container;
    if (p.video.empty()) return p.audio.empty() ? c.audio_length() : p.audio.front().length;
    const double rate = c.frame_rate();
    return rate > 0.0 ? c.frame_count() / rate : 0.0;
  });
}

int AviFileInfo::index_rebuilt() const {
  return call(impl_, 0, [](Impl& p) { return p.container.index_rebuilt(); });
}

int AviFileInfo::get_bit_rate() const {
  return call(impl_, 0, [](Impl& p) {
    const float kbits = p.container.video_bit_rate();
    return kbits >= 0.0f && kbits < 2147483647.0f ? static_cast<int>(kbits) : 0;
  });
}

const VideoInfo* AviFileInfo::get_video_info(int& count) const {
  return call(impl_, static_cast<const VideoInfo*>(nullptr), [&](Impl& p) {
    count = static_cast<int>(p.video.size());
    return static_cast<const VideoInfo*>(p.video.data());
  });
}

const AudioInfo* AviFileInfo::get_audio_info(int& count) const {
  return call(impl_, static_cast<const AudioInfo*>(nullptr), [&](Impl& p) {
    count = static_cast<int>(p.audio.size());
    return static_cast<const AudioInfo*>(p.audio.data());
  });
}

char** AviFileInfo::get_video_type_name() const {
  return call(impl_, static_cast<char**>(nullptr), [](Impl& p) {
    return p.video_name_pointers.empty() ? nullptr : p.video_name_pointers.data();
  });
}

}  // namespace avikit
