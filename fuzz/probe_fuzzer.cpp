// Probes arbitrary bytes as an in-memory file: through the exported AviFileInfo, and through a
// keep-handle AviContainer whose accessors, selections and indexes are all exercised. Only
// invariants are checked; the sanitizers catch the rest.

#include <avikit/avi_file_info.h>
#include <avikit/platform/vfw.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "container/avi_container.h"
#include "platform/files.h"

using namespace avikit;

namespace {

// The input of the run under way, held in memory.
InMemoryFile g_input(nullptr, "mem:fuzz.avi");

void check(bool ok) {
  if (!ok) std::abort();
}

// A stand-in codec for a few handlers, so the naming paths that find a codec run too. It
// accepts any format; the "dvsd" one calls itself a DV codec.
platform::LRESULT fake_codec(platform::DWORD_PTR, platform::HANDLE, platform::UINT msg,
                             platform::LPARAM p1, platform::LPARAM p2) {
  using namespace platform;
  switch (msg) {
    case DRV_OPEN:
      return 1;
    case DRV_CLOSE:
      return 1;
    case ICM_GETINFO: {
      auto* info = reinterpret_cast<ICINFO*>(p1);
      const std::u16string text =
          info->fccHandler == make_fourcc('d', 'v', 's', 'd') ? u"Fuzz DV codec" : u"Fuzz codec";
      for (std::size_t i = 0; i < text.size(); ++i) info->szDescription[i] = text[i];
      return static_cast<LRESULT>(sizeof(ICINFO));
    }
    case ICM_DECOMPRESS_QUERY:
      return p2 == 0 ? ICERR_OK : ICERR_BADFORMAT;
    default:
      return ICERR_UNSUPPORTED;
  }
}

void probe(std::uint64_t size) {
  AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  const int r = info.open(g_input, status);
  check(r == 0 || r == 1 || r == 11 || r == 12 || r == 13);
  int n = -1;
  const VideoInfo* video = info.get_video_info(n);
  check(r != 0 || (video != nullptr || n == 0));
  check(n <= 32);
  const AudioInfo* audio = info.get_audio_info(n);
  check(r != 0 || (audio != nullptr || n == 0));
  check(n <= 32);
  check(info.get_file_size() <= static_cast<double>(size));
  info.get_length();
  info.get_bit_rate();
  info.get_type_name();
}

void exercise_container(std::uint64_t size) {
  AviContainer c(true);
  if (c.open(g_input) == 0) return;
  check(c.file_size() == size || (c.flags() & AVC_WAVE) != 0);
  std::uint32_t numbers[32];
  const int nv = c.video_stream_numbers(numbers, 32);
  for (int i = 0; i < nv; ++i) {
    c.select_video_stream(static_cast<int>(numbers[i]));
    VideoInfo v;
    c.describe_video_stream(v);
    c.video_type_name();
    c.is_dv();
    c.largest_video_chunk();
    c.full_format_flag();
    if (const ChunkIndex* index = c.video_index()) {
      // At most one entry per 8 bytes of index read, and the key list points into the entries.
      check(index->entries.size() <= size / 8 + 1);
      for (std::uint32_t k : index->key_frames) check(k < index->entries.size());
      if (!index->entries.empty()) {
        std::uint8_t b[16];
        c.read_at(index->entries.front().position, b, sizeof b);
      }
    }
  }
  const int na = c.audio_stream_numbers(numbers, 32);
  for (int i = 0; i < na; ++i) {
    c.select_audio_stream(static_cast<int>(numbers[i]));
    AudioInfo a;
    c.describe_audio_stream(a);
    c.audio_type_name();
    c.short_chunk_flag();
  }
  c.stream_kind(0);
  c.file_type_name();
  AviContainer copy(false);
  copy = c;
  copy.frame_count();
  copy.audio_length();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const char* handler : {"divx", "dvsd", "rle ", "xvid"}) {
    platform::ICInstall(platform::ICTYPE_VIDEO,
                        platform::make_fourcc(handler[0], handler[1], handler[2], handler[3]),
                        reinterpret_cast<platform::LPARAM>(&fake_codec), nullptr,
                        platform::ICINSTALL_FUNCTION);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  g_input.bytes = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
  probe(size);
  exercise_container(size);
  g_input.bytes.reset();
  check(platform::open_file_handles() == 0);
  check(platform::ic_open_instances() == 0);
  return 0;
}
