#pragma once
// The process-wide registry of shared files. Players of one thread that open the same file (a
// name on disk, letter case aside, or the same bytes in memory) share one SharedAviFile; the
// registry counts its video and audio users and deletes it when the last one leaves. A reader that
// needs another stream or another decoder output while others share its file moves to a private
// copy opened again: a split.
//
// Threads: sharing is per thread (the creating thread's id is part of the match), so a
// SharedAviFile is only ever used by one thread. The registry itself is guarded by one lock, so
// players on several threads may open, select and close at once; no file is opened or parsed
// while the lock is held.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/files.h"
#include "video/shared_avi_file.h"

namespace avikit {

inline constexpr int USE_VIDEO = 1;
inline constexpr int USE_AUDIO = 2;

inline constexpr std::uint32_t kOutputNotPrepared = 0xFFFFFFFFu;

struct SharedFileEntry {
  platform::FileSource source;  // as the first opener gave it; empty for a split copy
  std::unique_ptr<SharedAviFile> file;
  std::int32_t video_stream = -1;  // selected video stream of the video users; -1: none
  std::int32_t audio_stream = -1;  // selected audio stream of the audio users; -1: none
  std::uint32_t output_format = kOutputNotPrepared;  // biCompression the decoder was prepared for
  std::uint32_t thread = 0;                          // GetCurrentThreadId of the creator
  std::int32_t video_users = 0;
  std::int32_t audio_users = 0;
  // The file's first video stream number (-1: none), fixed at creation: the stream a new video
  // reader must be content with to join this entry.
  std::int32_t default_video_stream = -1;
};

// Returns the SharedAviFile joined or opened for `source`, or null (the file cannot be opened or
// has no playable stream).
SharedAviFile* acquire_shared_file(const platform::FileSource& source, int mode);
// Drops a video user (mode bit 0x1) and/or an audio user (bit 0x2); the last one deletes the file.
void release_shared_file(SharedAviFile* file, int mode);
// Select a stream for a reader of `file` using it in `mode`; return the file the reader must use
// from now on (the same one, or a split copy).
SharedAviFile* select_video_on_shared(SharedAviFile* file, int stream, int mode);
SharedAviFile* select_audio_on_shared(SharedAviFile* file, int stream, int mode);

// Prepares the decoder of `file` for `output`, splitting the file off when other readers have
// it prepared for another format. `*ok` (set to false by the caller) reports success.
SharedAviFile* prepare_decoder(SharedAviFile* file, int mode,
                               const platform::BITMAPINFOHEADER* output, std::uint8_t* prime,
                               bool* ok);

// A snapshot of one entry, for tests and diagnostics; false when `file` has no entry.
bool shared_file_entry(const SharedAviFile* file, SharedFileEntry* out_without_file);
int shared_file_count();

}  // namespace avikit
