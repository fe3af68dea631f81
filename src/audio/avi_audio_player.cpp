#include "audio/avi_audio_player.h"

#include <new>

#include "audio/audio_player_impl.h"
#include "container/open_error.h"

namespace {

// The type name the player reports: empty, one string for every player.
constexpr char kNoTypeName[] = "";

}  // namespace

AviAudioPlayer::AviAudioPlayer() {
  base_words_[0] = base_words_[1] = base_words_[2] = 0;
  // The shell's fixed layout holds a raw owning pointer: release() deletes what is made here.
  impl_ = new (std::nothrow) AviAudioPlayerImpl();
}

AviAudioPlayer::AviAudioPlayer(const AviAudioPlayer& other)
    : AudioPlayer(other), impl_(other.impl_) {
  if (impl_ != nullptr) ++impl_->users;
}

AviAudioPlayer& AviAudioPlayer::operator=(const AviAudioPlayer& other) {
  if (this == &other) return *this;
  AudioPlayer::operator=(other);
  if (other.impl_ != nullptr) ++other.impl_->users;
  release();
  impl_ = other.impl_;
  return *this;
}

AviAudioPlayer::~AviAudioPlayer() { release(); }

void AviAudioPlayer::release() noexcept {
  // The last copy to let go deletes the shared object (made in the constructor); its
  // destructor closes the stream first. Closing swallows every failure of its own.
  if (impl_ != nullptr && --impl_->users == 0) {
    try {
      delete impl_;
    } catch (...) {
    }
  }
  impl_ = nullptr;
}

int AviAudioPlayer::open(const char* name) {
  int result = 1;
  try {
    if (impl_ != nullptr) result = impl_->open(name);
  } catch (...) {
    try {
      impl_->close();
    } catch (...) {
    }
  }
  container::note_open_result(name, result, container::OpenKind::kAudio);
  return result;
}

void AviAudioPlayer::close() {
  if (impl_ == nullptr) return;
  try {
    impl_->close();
  } catch (...) {
  }
}

void AviAudioPlayer::set_volume(double left, double right) {
  if (impl_ != nullptr) impl_->set_volume(left, right);
}

const SoundFrame* AviAudioPlayer::get_next_sound() {
  if (impl_ == nullptr) return nullptr;
  try {
    return impl_->next_block();
  } catch (...) {
    return nullptr;
  }
}

double AviAudioPlayer::seek(double seconds) {
  if (impl_ == nullptr) return 0.0;
  try {
    return impl_->seek(seconds);
  } catch (...) {
    return 0.0;
  }
}

int AviAudioPlayer::set_shift(int milliseconds) {
  if (impl_ == nullptr) return 0;
  try {
    return impl_->set_shift(milliseconds);
  } catch (...) {
    return 0;
  }
}

void AviAudioPlayer::set_pcm_output(int sample_rate, int channels) {
  if (impl_ == nullptr) return;
  try {
    impl_->set_output(sample_rate, channels);
  } catch (...) {
  }
}

int AviAudioPlayer::get_pcm_output_sample_rate() const {
  return impl_ != nullptr ? impl_->output_rate() : 44100;
}

int AviAudioPlayer::get_pcm_output_channels() const {
  return impl_ != nullptr ? impl_->output_channels() : 2;
}

int AviAudioPlayer::has_audio() const { return impl_ != nullptr ? impl_->has_audio() : 0; }

int AviAudioPlayer::is_end() const { return impl_ != nullptr ? impl_->is_end() : 1; }

double AviAudioPlayer::get_offset() const { return impl_ != nullptr ? impl_->offset() : 0.0; }

double AviAudioPlayer::get_length() const { return impl_ != nullptr ? impl_->length() : 0.0; }

const char* AviAudioPlayer::get_file_name() const {
  return impl_ != nullptr ? impl_->file_name() : nullptr;
}

int AviAudioPlayer::select_audio_stream(int stream) {
  if (impl_ == nullptr) return 0;
  try {
    return impl_->select_stream(stream);
  } catch (...) {
    return 0;
  }
}

const AudioInfo* AviAudioPlayer::get_audio_info() const {
  return impl_ != nullptr ? impl_->audio_info() : nullptr;
}

const AudioInfo* AviAudioPlayer::get_audio_info_list(int& count) const {
  return impl_ != nullptr ? impl_->audio_info_list(count) : nullptr;
}

double AviAudioPlayer::get_file_size() const {
  if (impl_ == nullptr) return 0.0;
  try {
    return impl_->file_size();
  } catch (...) {
    return 0.0;
  }
}

const char* AviAudioPlayer::get_type_name() const {
  return impl_ != nullptr ? kNoTypeName : nullptr;
}
