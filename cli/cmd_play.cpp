// avikit play FILE [--stream N] [--frames N] [--screenshot PATH] [--keys LIST] [--mute]
//
// A host window for the two players. AviVideoPlayer and AviAudioPlayer are driven only through
// their VideoPlayer and AudioPlayer interfaces, as a host application drives them. The sound is
// the clock: a video frame is shown once the samples queued before it have been played. Without
// sound (no stream, --mute, or no audio device) the wall clock stands in.
//
// Keys: space pauses, Left/Right step one frame (and pause), Up/Down jump one second, Home/End go
// to the first/last frame, Q or Escape quits. --keys feeds the same key presses at start-up so
// the window can be driven headless; --frames quits after N pictures shown; --screenshot writes
// the last picture the renderer showed.
//
// Built as a module of its own (avikit_play.so, beside the tool), which the tool loads when the
// command runs (cli/cmd_play_loader.cpp).

#include <SDL.h>
#include <avikit/avi_audio_player.h>
#include <avikit/avi_video_player.h>
#include <avikit/platform/win_types.h>
#include <avikit/sound_frame.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_common.h"
#include "cli/image_out.h"
#include "cli/play_options.h"

using namespace avikit;

namespace avicli {
namespace {

struct SdlDeleter {
  void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
  void operator()(SDL_Renderer* r) const { SDL_DestroyRenderer(r); }
  void operator()(SDL_Texture* t) const { SDL_DestroyTexture(t); }
};

class SdlSession {
 public:
  SdlSession() : ok_(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0) {}
  ~SdlSession() { SDL_Quit(); }
  SdlSession(const SdlSession&) = delete;
  SdlSession& operator=(const SdlSession&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// The sound device, fed from the audio player on the main thread (SDL's queue, no callback), so
// the players are never touched from two threads.
class SoundOut {
 public:
  SoundOut() = default;
  ~SoundOut() {
    if (device_ != 0) SDL_CloseAudioDevice(device_);
    if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  SoundOut(const SoundOut&) = delete;
  SoundOut& operator=(const SoundOut&) = delete;

  bool open(AudioPlayer& audio);
  bool active() const { return device_ != 0; }
  // Seconds of sound played since the last restart(); once the sound has run out, the wall
  // clock carries on from there so a video longer than its sound still plays to the end.
  double played();
  void restart(AudioPlayer& audio, double seconds);
  void pause(bool paused) { SDL_PauseAudioDevice(device_, paused ? 1 : 0); }
  void feed(AudioPlayer& audio);

 private:
  SDL_AudioDeviceID device_ = 0;
  bool subsystem_ = false;
  int bytes_per_second_ = 0;
  std::uint64_t queued_ = 0;
  bool source_ended_ = false;
  Uint64 drained_ticks_ = 0;  // when the last queued sample was played, 0 while playing
};

bool SoundOut::open(AudioPlayer& audio) {
  if (audio.has_audio() == 0) return false;
  subsystem_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (!subsystem_) return false;
  SDL_AudioSpec want{};
  want.freq = audio.get_pcm_output_sample_rate();
  want.channels = static_cast<Uint8>(std::clamp(audio.get_pcm_output_channels(), 1, 2));
  want.format = AUDIO_S16SYS;
  want.samples = 1024;
  audio.set_pcm_output(want.freq, want.channels);
  SDL_AudioSpec have{};
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  bytes_per_second_ = want.freq * want.channels * 2;
  return device_ != 0 && bytes_per_second_ > 0;
}

double SoundOut::played() {
  const std::uint64_t waiting = SDL_GetQueuedAudioSize(device_);
  const std::uint64_t done = queued_ > waiting ? queued_ - waiting : 0;
  const double seconds = static_cast<double>(done) / bytes_per_second_;
  if (!source_ended_ || waiting != 0) return seconds;
  if (drained_ticks_ == 0) drained_ticks_ = SDL_GetTicks64();
  return seconds + static_cast<double>(SDL_GetTicks64() - drained_ticks_) / 1000.0;
}

void SoundOut::restart(AudioPlayer& audio, double seconds) {
  SDL_ClearQueuedAudio(device_);
  queued_ = 0;
  source_ended_ = false;
  drained_ticks_ = 0;
  audio.seek(seconds);
}

void SoundOut::feed(AudioPlayer& audio) {
  // A quarter second ahead: enough to ride out a slow decode, little enough to answer keys.
  const auto ahead = static_cast<Uint32>(bytes_per_second_ / 4);
  for (int guard = 0; guard < 64 && SDL_GetQueuedAudioSize(device_) < ahead; ++guard) {
    const SoundFrame* frame = audio.is_end() != 0 ? nullptr : audio.get_next_sound();
    if (frame == nullptr || frame->get_sample_count() <= 0) {
      source_ended_ = true;
      return;
    }
    const auto bytes = static_cast<Uint32>(frame->get_sample_count()) * 2u;
    if (SDL_QueueAudio(device_, frame->get_pcm(), bytes) != 0) return;
    queued_ += bytes;
  }
}

class PlayerWindow {
 public:
  PlayerWindow(VideoPlayer& video, AudioPlayer* audio, const PlayOptions& o)
      : video_(video), audio_(audio), o_(o) {}
  [[nodiscard]] bool create();
  void run();
  [[nodiscard]] bool write_screenshot() const;

 private:
  void show();
  void handle_key(SDL_Keycode key);
  void set_playing(bool playing);
  void restart_clock();
  void advance();
  void jump(int offset);

  VideoPlayer& video_;
  AudioPlayer* audio_;
  const PlayOptions& o_;
  SoundOut sound_;
  std::unique_ptr<SDL_Window, SdlDeleter> window_;
  std::unique_ptr<SDL_Renderer, SdlDeleter> renderer_;
  std::unique_ptr<SDL_Texture, SdlDeleter> texture_;
  int width_ = 0;
  int height_ = 0;
  double rate_ = 25.0;
  std::vector<std::uint8_t> rows_;  // the current picture, top-down
  std::vector<std::uint8_t> shot_;  // what the renderer last showed, when asked for
  bool playing_ = true;
  bool quit_ = false;
  int shown_ = 0;
  int base_offset_ = 0;
  Uint64 base_ticks_ = 0;
};

bool PlayerWindow::create() {
  const auto* header = video_.get_frame_dib_header();
  if (header == nullptr || header->biWidth <= 0 || header->biHeight <= 0) return false;
  width_ = header->biWidth;
  height_ = header->biHeight;
  if (video_.get_frame_rate() > 0.0) rate_ = video_.get_frame_rate();
  window_.reset(SDL_CreateWindow("avikit", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width_,
                                 height_, 0));
  if (!window_) return false;
  renderer_.reset(SDL_CreateRenderer(window_.get(), -1, 0));
  if (!renderer_) renderer_.reset(SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_SOFTWARE));
  if (!renderer_) return false;
  texture_.reset(SDL_CreateTexture(renderer_.get(), SDL_PIXELFORMAT_BGR24,
                                   SDL_TEXTUREACCESS_STREAMING, width_, height_));
  if (!texture_) return false;
  if (audio_ != nullptr && !o_.mute && sound_.open(*audio_)) sound_.pause(false);
  restart_clock();
  return true;
}

// Uploads the player's current picture (a bottom-up DIB) and shows it; the title carries the
// timecode, so the viewer always knows where they are.
void PlayerWindow::show() {
  const char* dib = video_.get_frame_dib_data();
  const int pitch = video_.get_frame_dib_pitch();
  const std::size_t row = static_cast<std::size_t>(width_) * 3;
  const std::size_t bytes = row * static_cast<std::size_t>(height_);
  if (dib != nullptr && pitch > 0 && static_cast<std::size_t>(pitch) >= row) {
    rows_.resize(bytes);
    for (int y = 0; y < height_; ++y) {
      const char* from =
          dib + static_cast<std::size_t>(height_ - 1 - y) * static_cast<std::size_t>(pitch);
      std::copy_n(from, row, rows_.data() + row * static_cast<std::size_t>(y));
    }
    SDL_UpdateTexture(texture_.get(), nullptr, rows_.data(), static_cast<int>(row));
  }
  SDL_RenderClear(renderer_.get());
  SDL_RenderCopy(renderer_.get(), texture_.get(), nullptr, nullptr);
  if (!o_.screenshot.empty()) {
    // Read back before presenting: after it the back buffer's contents are undefined.
    shot_.resize(bytes);
    if (SDL_RenderReadPixels(renderer_.get(), nullptr, SDL_PIXELFORMAT_BGR24, shot_.data(),
                             static_cast<int>(row)) != 0)
      shot_.clear();
  }
  SDL_RenderPresent(renderer_.get());
  char timecode[64] = {};
  char length[64] = {};
  video_.frame_2_timecode(video_.get_frame_offset(), timecode, 0);
  video_.get_length_timecode(length);
  const std::string title = std::string("avikit - ") + o_.file + " - " + timecode + " / " + length +
                            (playing_ ? "" : " (paused)");
  SDL_SetWindowTitle(window_.get(), title.c_str());
  if (o_.frames > 0 && ++shown_ >= o_.frames) quit_ = true;
}

void PlayerWindow::restart_clock() {
  base_offset_ = video_.get_frame_offset();
  base_ticks_ = SDL_GetTicks64();
  if (sound_.active()) sound_.restart(*audio_, video_.get_frame_time());
}

void PlayerWindow::set_playing(bool playing) {
  if (playing == playing_) return;
  playing_ = playing;
  if (playing_) restart_clock();
  if (sound_.active()) sound_.pause(!playing_);
}

void PlayerWindow::jump(int offset) {
  const int last = std::max(video_.get_total_frames() - 1, 0);
  video_.seek(std::clamp(offset, 0, last), 1);
  if (playing_) restart_clock();
  show();
}

void PlayerWindow::handle_key(SDL_Keycode key) {
  const int here = video_.get_frame_offset();
  const int second = std::max(1, static_cast<int>(std::lround(rate_)));
  switch (key) {
    case SDLK_SPACE:
      set_playing(!playing_);
      show();
      break;
    case SDLK_RIGHT:
      set_playing(false);
      jump(here + 1);
      break;
    case SDLK_LEFT:
      set_playing(false);
      jump(here - 1);
      break;
    case SDLK_UP:
      jump(here + second);
      break;
    case SDLK_DOWN:
      jump(here - second);
      break;
    case SDLK_HOME:
      jump(0);
      break;
    case SDLK_END:
      jump(video_.get_total_frames() - 1);
      break;
    case SDLK_q:
    case SDLK_ESCAPE:
      quit_ = true;
      break;
    default:
      break;
  }
}

// Shows the frame the clock has reached: the next one in turn, or a seek when far behind.
void PlayerWindow::advance() {
  if (sound_.active()) sound_.feed(*audio_);
  const double elapsed = sound_.active()
                             ? sound_.played()
                             : static_cast<double>(SDL_GetTicks64() - base_ticks_) / 1000.0;
  const int due = base_offset_ + static_cast<int>(std::floor(elapsed * rate_ + 1e-6));
  const int here = video_.get_frame_offset();
  if (due <= here) return;
  const int last = video_.get_total_frames() - 1;
  if (here >= last || video_.is_end() != 0) {
    set_playing(false);
    show();
    return;
  }
  if (due - here == 1) {
    video_.forward(1);
  } else {
    video_.seek(std::min(due, last), 1);
  }
  show();
}

void PlayerWindow::run() {
  show();
  while (!quit_) {
    SDL_Event e;
    while (!quit_ && SDL_PollEvent(&e) != 0) {
      if (e.type == SDL_QUIT) quit_ = true;
      if (e.type == SDL_KEYDOWN) handle_key(e.key.keysym.sym);
    }
    if (quit_) break;
    if (playing_) advance();
    SDL_Delay(2);
  }
}

bool PlayerWindow::write_screenshot() const {
  if (shot_.empty()) return false;
  return write_png_from_bgr(o_.screenshot, shot_.data(), width_, height_,
                            static_cast<std::size_t>(width_) * 3, false);
}

bool key_from_name(const std::string& name, SDL_Keycode* key) {
  static const std::pair<const char*, SDL_Keycode> kNames[] = {
      {"space", SDLK_SPACE}, {"left", SDLK_LEFT}, {"right", SDLK_RIGHT}, {"up", SDLK_UP},
      {"down", SDLK_DOWN},   {"home", SDLK_HOME}, {"end", SDLK_END},     {"q", SDLK_q}};
  for (const auto& [n, k] : kNames) {
    if (name == n) {
      *key = k;
      return true;
    }
  }
  return false;
}

// Queues the --keys presses as real key events, so they take the same path as a person's.
bool push_keys(const std::string& list) {
  std::stringstream ss(list);
  std::string name;
  while (std::getline(ss, name, ',')) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    if (!key_from_name(name, &e.key.keysym.sym) || SDL_PushEvent(&e) < 0) return false;
  }
  return true;
}

int run_play(const PlayOptions& o) {
  AviVideoPlayer avi_video;
  AviAudioPlayer avi_audio;
  VideoPlayer& video = avi_video;  // a host sees only the interfaces
  AudioPlayer& audio = avi_audio;
  if (video.open(o.file.c_str(), o.stream) != 0) {
    return failure("play", "cannot open " + o.file + ": " + open_failure_reason());
  }
  if (video.has_video() == 0 || video.get_total_frames() <= 0) {
    return failure("play", o.file + ": no video to show (avikit audio plays its sound)");
  }
  const bool has_sound = audio.open(o.file.c_str()) == 0 && audio.has_audio() != 0;
  SdlSession sdl;
  if (!sdl.ok()) {
    std::fprintf(stderr, "avikit play: no display (%s)\n", SDL_GetError());
    return 1;
  }
  PlayerWindow window(video, has_sound ? &audio : nullptr, o);
  if (!window.create()) {
    std::fprintf(stderr, "avikit play: cannot open a window (%s)\n", SDL_GetError());
    return 1;
  }
  if (!push_keys(o.keys)) {
    return usage_error("play", "--keys takes space,left,right,up,down,home,end,q");
  }
  window.run();
  char timecode[64] = {};
  video.frame_2_timecode(video.get_frame_offset(), timecode, 0);
  std::printf("frame %d %s\n", video.get_frame_offset(), timecode);
  if (!o.screenshot.empty() && !window.write_screenshot()) {
    std::fprintf(stderr, "avikit play: cannot write %s\n", o.screenshot.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

}  // namespace avicli

// The module's entry point (cli/play_options.h).
extern "C" __attribute__((visibility("default"))) int avikit_run_play(
    const avicli::PlayOptions* o) {
  return o != nullptr ? avicli::run_play(*o) : 1;
}
