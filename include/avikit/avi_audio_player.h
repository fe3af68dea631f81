#pragma once
// AviAudioPlayer: the exported audio player. The host opens an AVI or WAVE file by name and pulls
// 16-bit PCM blocks of 1152 sample frames (SoundFrame) from it, with seek, shift, volume, output
// format and stream selection.
//
//   AviAudioPlayer p;
//   if (p.open("clip.avi") == 0) {
//     p.set_pcm_output(48000, 2);
//     while (!p.is_end()) consume(p.get_next_sound());
//   }
//
// A thin shell: every method forwards to an AviAudioPlayerImpl (audio/audio_player_impl.h) and
// catches everything; without one (its allocation failed) each gives the fixed answer noted
// after the "|" beside it.
// The virtual operations follow the host's AudioPlayer (hostlib/player_bases.h) in its order.
// Copies share one implementation, counted, and freed when the last copy lets go; a copy drives
// the same stream as its original.

#include <avikit/in_memory_file.h>
#include <avikit/player_bases.h>

#include <cstdint>

namespace avikit {

class AviAudioPlayerImpl;

class AviAudioPlayer : public AudioPlayer {
 public:
  AviAudioPlayer();
  AviAudioPlayer(const AviAudioPlayer& other);
  AviAudioPlayer& operator=(const AviAudioPlayer& other);
  ~AviAudioPlayer() override;

  using AudioPlayer::open;                              // open(name, stream) stays the base's
  int open(const char* name) override;                  // 0 ok, 1 failure | 1
  void close() override;                                // | nothing
  void set_volume(double left, double right) override;  // | nothing
  const SoundFrame* get_next_sound() override;          // | null
  double seek(double seconds) override;                 // | 0.0
  int set_shift(int milliseconds) override;             // | 0
  void set_pcm_output(int sample_rate, int channels) override;  // | nothing
  int get_pcm_output_sample_rate() const override;              // | 44100
  int get_pcm_output_channels() const override;                 // | 2
  int has_audio() const override;                               // | 0
  int is_end() const override;                                  // | 1
  double get_offset() const override;                           // | 0.0
  double get_length() const override;                           // | 0.0
  const char* get_file_name() const override;                   // | null
  int select_audio_stream(int stream) override;                 // | 0
  const AudioInfo* get_audio_info() const override;             // | null

  // Not virtual.
  // open(name) and open(name, stream) for a file held in memory (<avikit/in_memory_file.h>); the
  // player keeps the bytes.
  int open(const InMemoryFile& file);                      // | 1
  int open(const InMemoryFile& file, int stream);          // | 1
  const AudioInfo* get_audio_info_list(int& count) const;  // count 0, null | null
  double get_file_size() const;                            // | 0.0
  const char* get_type_name() const;                       // "" | null

 private:
  AviAudioPlayerImpl* impl_ = nullptr;  // shared by copies, counted by container/shell.h
};

}  // namespace avikit
