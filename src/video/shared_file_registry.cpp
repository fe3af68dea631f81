#include "video/shared_file_registry.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/sync.h"

namespace avikit {

namespace {

// Entries stay in insertion order: a removed entry closes the gap.
struct Registry {
  std::mutex mutex;
  std::vector<SharedFileEntry> entries;
};

Registry& registry() {
  static Registry r;
  return r;
}

std::vector<SharedFileEntry>::iterator find_entry(std::vector<SharedFileEntry>& entries,
                                                  const SharedAviFile* file) {
  return std::find_if(entries.begin(), entries.end(),
                      [file](const SharedFileEntry& e) { return e.file.get() == file; });
}

std::int32_t first_video_stream(SharedAviFile& file) {
  std::uint32_t first = 0;
  return file.container().video_stream_numbers(&first, 1) == 1 ? static_cast<std::int32_t>(first)
                                                               : -1;
}

// Opens the file anew for a player; null when it cannot serve one. The sound player alone
// leaves the video index unloaded until a video reader joins.
std::unique_ptr<SharedAviFile> open_for_player(const platform::FileSource& source, int mode) {
  if (source.empty()) return nullptr;
  auto file = std::make_unique<SharedAviFile>();
  if ((mode & USE_VIDEO) == 0) file->container().skip_video_index();
  if (file->open_shared(source) == 0 || !file->has_playable_stream()) return nullptr;
  return file;
}

SharedFileEntry new_entry(platform::FileSource source, std::unique_ptr<SharedAviFile> file,
                          int mode) {
  SharedFileEntry e;
  e.source = std::move(source);
  e.default_video_stream = first_video_stream(*file);
  if ((mode & USE_VIDEO) != 0) {
    e.video_stream = file->container().selected_video_stream_number();
    e.video_users = 1;
  }
  if ((mode & USE_AUDIO) != 0) {
    e.audio_stream = file->container().selected_audio_stream_number();
    e.audio_users = 1;
  }
  e.thread = platform::GetCurrentThreadId();
  e.file = std::move(file);
  return e;
}

// Removes the entry at `it` when nobody uses it any more; the file goes with it.
void drop_if_unused(std::vector<SharedFileEntry>& entries,
                    std::vector<SharedFileEntry>::iterator it) {
  if (it->video_users <= 0 && it->audio_users <= 0) entries.erase(it);
}

enum class Kind { kVideo, kAudio };

// Moves one user of kind `kind` (and, when the mode has the other bit, one of the other kind)
// from the entry of `old_file` to a freshly opened copy that selects `stream`. Returns the new
// file, or null when the copy cannot be opened (nothing changes then).
SharedAviFile* split_off(SharedAviFile* old_file, Kind kind, int stream, int mode,
                         bool select_stream) {
  const platform::FileSource source = old_file->container().file_source();
  const int moved =
      kind == Kind::kVideo ? (USE_VIDEO | (mode & USE_AUDIO)) : (USE_AUDIO | (mode & USE_VIDEO));
  std::unique_ptr<SharedAviFile> copy = open_for_player(source, moved);
  if (!copy) return nullptr;
  if (select_stream) {
    if (kind == Kind::kVideo) {
      if (copy->container().select_video_stream(stream) != 0) copy->reset_decoder();
    } else {
      copy->container().select_audio_stream(stream);
    }
  }
  SharedFileEntry entry = new_entry(platform::FileSource(), std::move(copy), moved);
  SharedAviFile* result = entry.file.get();

  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = find_entry(r.entries, old_file);
  if (it != r.entries.end()) {
    if ((moved & USE_VIDEO) != 0) --it->video_users;
    if ((moved & USE_AUDIO) != 0) --it->audio_users;
    drop_if_unused(r.entries, it);
  }
  r.entries.push_back(std::move(entry));
  return result;
}

}  // namespace

SharedAviFile* acquire_shared_file(const platform::FileSource& source, int mode) {
  if (source.empty()) return nullptr;
  const std::uint32_t thread = platform::GetCurrentThreadId();
  SharedAviFile* joined = nullptr;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (SharedFileEntry& e : r.entries) {
      if (e.source.empty() || !platform::same_file(e.source, source)) continue;
      if (e.thread != thread) continue;
      // A video reader joins only a file whose video users watch the file's first stream: the
      // one it will be given.
      if ((mode & USE_VIDEO) != 0 && e.video_stream != -1 &&
          e.video_stream != e.default_video_stream)
        continue;
      if (mode == USE_VIDEO) {
        ++e.video_users;
        joined = e.file.get();
        break;
      }
      if (mode == USE_AUDIO) {
        ++e.audio_users;
        return e.file.get();
      }
    }
  }
  if (joined != nullptr) {
    joined->container().index_video();  // outside the lock: the entry is this thread's
    return joined;
  }
  std::unique_ptr<SharedAviFile> file = open_for_player(source, mode);
  if (!file) return nullptr;
  SharedFileEntry entry = new_entry(source, std::move(file), mode);
  SharedAviFile* result = entry.file.get();
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.entries.push_back(std::move(entry));
  return result;
}

void release_shared_file(SharedAviFile* file, int mode) {
  if (file == nullptr) return;
  std::unique_ptr<SharedAviFile> doomed;  // deleted after the lock is released
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = find_entry(r.entries, file);
    if (it == r.entries.end()) return;
    if ((mode & USE_VIDEO) != 0) --it->video_users;
    if ((mode & USE_AUDIO) != 0) --it->audio_users;
    if (it->video_users <= 0 && it->audio_users <= 0) {
      doomed = std::move(it->file);
      r.entries.erase(it);
    }
  }
}

SharedAviFile* select_video_on_shared(SharedAviFile* file, int stream, int mode) {
  if (file == nullptr) return nullptr;
  Registry& r = registry();
  {
    std::unique_lock<std::mutex> lock(r.mutex);
    auto it = find_entry(r.entries, file);
    if (it == r.entries.end() || it->video_stream == stream) return file;
    if (it->video_users == 1) {
      // Alone on the file: select in place. The entry is this thread's, so the file may be
      // worked on after the lock is released.
      lock.unlock();
      if (file->container().select_video_stream(stream) != 0) file->reset_decoder();
      lock.lock();
      it = find_entry(r.entries, file);
      if (it != r.entries.end()) {
        it->video_stream = file->container().selected_video_stream_number();
        it->output_format = kOutputNotPrepared;
      }
      return file;
    }
  }
  SharedAviFile* copy = split_off(file, Kind::kVideo, stream, mode, true);
  return copy != nullptr ? copy : file;
}

SharedAviFile* select_audio_on_shared(SharedAviFile* file, int stream, int mode) {
  if (file == nullptr) return nullptr;
  Registry& r = registry();
  {
    std::unique_lock<std::mutex> lock(r.mutex);
    auto it = find_entry(r.entries, file);
    if (it == r.entries.end() || it->audio_stream == stream) return file;
    if (it->audio_users == 1) {
      lock.unlock();
      file->container().select_audio_stream(stream);
      lock.lock();
      it = find_entry(r.entries, file);
      if (it != r.entries.end())
        it->audio_stream = file->container().selected_audio_stream_number();
      return file;
    }
  }
  SharedAviFile* copy = split_off(file, Kind::kAudio, stream, mode, true);
  return copy != nullptr ? copy : file;
}

SharedAviFile* prepare_decoder(SharedAviFile* file, int mode,
                               const platform::BITMAPINFOHEADER* output, std::uint8_t* prime,
                               bool* ok) {
  if (file == nullptr || output == nullptr || ok == nullptr) return file;
  const std::uint32_t wanted = output->biCompression;
  Registry& r = registry();
  {
    std::unique_lock<std::mutex> lock(r.mutex);
    auto it = find_entry(r.entries, file);
    if (it == r.entries.end()) return file;
    if (it->output_format == wanted) {
      *ok = true;
      return file;
    }
    if (it->video_users == 1 || it->output_format == kOutputNotPrepared) {
      lock.unlock();
      const bool ready = file->open_decoder(output, prime);
      lock.lock();
      it = find_entry(r.entries, file);
      if (it != r.entries.end()) it->output_format = wanted;
      *ok = ready;
      return file;
    }
  }
  // Shared and prepared for another format: this reader gets a decoder of its own.
  SharedAviFile* copy = split_off(file, Kind::kVideo, -1, mode, false);
  if (copy == nullptr) return file;
  const bool ready = copy->open_decoder(output, prime);
  if (ready) {
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = find_entry(r.entries, copy);
    if (it != r.entries.end()) it->output_format = wanted;
  }
  *ok = ready;
  return copy;
}

bool shared_file_entry(const SharedAviFile* file, SharedFileEntry* out) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = find_entry(r.entries, file);
  if (it == r.entries.end() || out == nullptr) return false;
  out->source = it->source;
  out->video_stream = it->video_stream;
  out->audio_stream = it->audio_stream;
  out->output_format = it->output_format;
  out->thread = it->thread;
  out->video_users = it->video_users;
  out->audio_users = it->audio_users;
  out->default_video_stream = it->default_video_stream;
  return true;
}

int shared_file_count() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return static_cast<int>(r.entries.size());
}

}  // namespace avikit
