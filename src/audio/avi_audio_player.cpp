#include <avikit/avi_audio_player.h>

#include "audio/audio_player_impl.h"
#include "container/open_error.h"
#include "container/shell.h"

namespace avikit {

namespace {

using Impl = AviAudioPlayerImpl;
using shell::call;

// The type name the player reports: empty, one string for every player.
constexpr char kNoTypeName[] = "";

int open_source(Impl* impl, const platform::FileSource& source) {
  const int result = call(impl, 1, [&](Impl& p) {
    try {
      return p.open(source);
    } catch (...) {
      p.close();  // a failed open leaves no reader behind
      throw;
    }
  });
  container::note_open_result(source, result, container::OpenKind::kAudio);
  return result;
}

}  // namespace

AviAudioPlayer::AviAudioPlayer() : impl_(shell::make<Impl>()) {
  base_words_[0] = base_words_[1] = base_words_[2] = 0;
}

AviAudioPlayer::AviAudioPlayer(const AviAudioPlayer& other)
    : AudioPlayer(other), impl_(shell::share(other.impl_)) {}

AviAudioPlayer& AviAudioPlayer::operator=(const AviAudioPlayer& other) {
  AudioPlayer::operator=(other);
  shell::assign(impl_, other.impl_);
  return *this;
}

AviAudioPlayer::~AviAudioPlayer() { shell::release(impl_); }

int AviAudioPlayer::open(const char* name) { return open_source(impl_, shell::source_of(name)); }

int AviAudioPlayer::open(const InMemoryFile& file) {
  return open_source(impl_, shell::source_of(file));
}

int AviAudioPlayer::open(const InMemoryFile& file, int stream) {
  return open(file) != 0 ? 1 : keep_stream(stream);
}

void AviAudioPlayer::close() {
  call(impl_, [](Impl& p) { p.close(); });
}

void AviAudioPlayer::set_volume(double left, double right) {
  call(impl_, [&](Impl& p) { p.set_volume(left, right); });
}

const SoundFrame* AviAudioPlayer::get_next_sound() {
  return call(impl_, static_cast<const SoundFrame*>(nullptr),
              [](Impl& p) { return p.next_block(); });
}

double AviAudioPlayer::seek(double seconds) {
  return call(impl_, 0.0, [&](Impl& p) { return p.seek(seconds); });
}

int AviAudioPlayer::set_shift(int milliseconds) {
  return call(impl_, 0, [&](Impl& p) { return p.set_shift(milliseconds); });
}

void AviAudioPlayer::set_pcm_output(int sample_rate, int channels) {
  call(impl_, [&](Impl& p) { p.set_output(sample_rate, channels); });
}

int AviAudioPlayer::get_pcm_output_sample_rate() const {
  return call(impl_, 44100, [](Impl& p) { return p.output_rate(); });
}

int AviAudioPlayer::get_pcm_output_channels() const {
  return call(impl_, 2, [](Impl& p) { return p.output_channels(); });
}

int AviAudioPlayer::has_audio() const {
  return call(impl_, 0, [](Impl& p) { return p.has_audio(); });
}

int AviAudioPlayer::is_end() const {
  return call(impl_, 1, [](Impl& p) { return p.is_end(); });
}

double AviAudioPlayer::get_offset() const {
  return call(impl_, 0.0, [](Impl& p) { return p.offset(); });
}

double AviAudioPlayer::get_length() const {
  return call(impl_, 0.0, [](Impl& p) { return p.length(); });
}

const char* AviAudioPlayer::get_file_name() const {
  return call(impl_, static_cast<const char*>(nullptr), [](Impl& p) { return p.file_name(); });
}

int AviAudioPlayer::select_audio_stream(int stream) {
  return call(impl_, 0, [&](Impl& p) { return p.select_stream(stream); });
}

const AudioInfo* AviAudioPlayer::get_audio_info() const {
  return call(impl_, static_cast<const AudioInfo*>(nullptr),
              [](Impl& p) { return p.audio_info(); });
}

const AudioInfo* AviAudioPlayer::get_audio_info_list(int& count) const {
  return call(impl_, static_cast<const AudioInfo*>(nullptr),
              [&](Impl& p) { return p.audio_info_list(count); });
}

double AviAudioPlayer::get_file_size() const {
  return call(impl_, 0.0, [](Impl& p) { return p.file_size(); });
}

const char* AviAudioPlayer::get_type_name() const {
  return call(impl_, static_cast<const char*>(nullptr), [](Impl&) { return kNoTypeName; });
}

}  // namespace avikit
