// The audio player pulled to the end of long streams, side by side with the ffmpeg tool.
//
// Files, written to a temp folder at start and removed at exit:
//   - MP3 in AVI, 15 minutes and two hours: one minute of 128 kbit/s stereo MP3 encoded by
//     ffmpeg, then looped into AVI files by stream copy (-stream_loop), so the two-hour file is
//     a real one of 276,000 chunks;
//   - DV type-1, 15 minutes and two hours: ten real 625/50 DV frames with 48 kHz sound, and an
//     idx1 that repeats them 2,250 and 18,000 times over (sparse in the sense that the file
//     holds ten frames, while the reader reads 180,000).
// Ours: AviAudioPlayer, set_pcm_output(48000, 2), get_next_sound until is_end. Theirs:
// `ffmpeg -i F -vn -ar 48000 -f s16le - > /dev/null` on the same MP3 file. The DV runs show that
// the time is linear in the length (two hours against 15 minutes: 8 times the work). A seek
// benchmark gives the cost of landing anywhere in the two-hour index and reading one block.
//
//   build/release/bench/audio_bench

#include <avikit/avi_audio_player.h>
#include <avikit/sound_frame.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "audio/audio_reader.h"
#include "support/avi_builder.h"
#include "support/run_command.h"
#include "video/shared_file_registry.h"

using namespace avikit;

namespace {

constexpr int kShortMinutes = 15;
constexpr int kLongMinutes = 120;
constexpr std::uint32_t kDvFrame = 144000;

bool ffmpeg(const std::string& args) {
  int code = -1;
  avitest::run_command("ffmpeg -nostdin -v error -y " + args + " 2>&1", &code);
  return code == 0;
}

// A DV type-1 file of `frames` frames whose idx1 cycles through the ten stored ones.
bool write_dv_type1(const std::string& dv, std::uint32_t frames, const std::string& path) {
  avitest::AviBuilder b;
  avitest::DvStream d;
  d.length = frames;
  const int s = b.add_dv(d);
  const std::size_t stored = dv.size() / kDvFrame;
  for (std::size_t i = 0; i < stored; ++i)
    b.add_chunk(s, kDvFrame, true, dv.substr(i * kDvFrame, kDvFrame));
  avitest::BuiltAvi avi = b.build();
  if (stored == 0 || avi.layout.idx1_header == 0) return false;
  const std::string entries = avi.bytes.substr(avi.layout.idx1_header + 8, stored * 16);
  std::string bytes = avi.bytes.substr(0, avi.layout.idx1_header);
  bytes += "idx1";
  avitest::put_u32(bytes, frames * 16);
  for (std::uint32_t f = 0; f < frames; ++f) bytes += entries.substr((f % stored) * 16, 16);
  avitest::patch_u32(bytes, 4, static_cast<std::uint32_t>(bytes.size() - 8));
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct BenchFiles {
  std::filesystem::path dir;
  std::string mp3_short, mp3_long, dv_short, dv_long;
  bool ok = true;

  BenchFiles() {
    dir = std::filesystem::temp_directory_path() / "avikit-audio-bench";
    std::filesystem::create_directories(dir);
    const std::string minute = (dir / "minute.mp3").string();
    const std::string dv = (dir / "ten.dv").string();
    mp3_short = (dir / "mp3_15min.avi").string();
    mp3_long = (dir / "mp3_2h.avi").string();
    dv_short = (dir / "dv_15min.avi").string();
    dv_long = (dir / "dv_2h.avi").string();
    ok = ffmpeg(
             "-f lavfi -i \"sine=frequency=440:sample_rate=44100\" -f lavfi -i "
             "\"anoisesrc=color=pink:amplitude=0.05:sample_rate=44100\" -filter_complex "
             "\"[0][1]amerge=inputs=2\" -t 60 -c:a libmp3lame -b:a 128k '" +
             minute + "'") &&
         ffmpeg("-stream_loop -1 -i '" + minute + "' -t " + std::to_string(kShortMinutes * 60) +
                " -c copy '" + mp3_short + "'") &&
         ffmpeg("-stream_loop -1 -i '" + minute + "' -t " + std::to_string(kLongMinutes * 60) +
                " -c copy '" + mp3_long + "'") &&
         ffmpeg(
             "-f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i "
             "\"sine=frequency=440:sample_rate=48000\" -t 0.4 -pix_fmt yuv420p -c:v dvvideo "
             "-c:a pcm_s16le -ac 2 -f dv '" +
             dv + "'");
    const std::string frames = ok ? read_whole(dv) : std::string();
    ok = ok && write_dv_type1(frames, kShortMinutes * 60 * 25, dv_short) &&
         write_dv_type1(frames, kLongMinutes * 60 * 25, dv_long);
    if (!ok) std::fprintf(stderr, "audio_bench: cannot make the input files\n");
  }
  ~BenchFiles() { std::filesystem::remove_all(dir); }
};

const BenchFiles& files() {
  static const BenchFiles f;
  return f;
}

const std::string& pick(int which) {
  const BenchFiles& f = files();
  switch (which) {
    case 0:
      return f.mp3_long;
    case 1:
      return f.mp3_short;
    case 2:
      return f.dv_long;
    default:
      return f.dv_short;
  }
}
const char* kLabels[] = {"MP3 2 h", "MP3 15 min", "DV type-1 2 h", "DV type-1 15 min"};

void BM_PlayerToEnd(benchmark::State& state) {
  const std::string& path = pick(static_cast<int>(state.range(0)));
  double seconds = 0.0;
  for (auto _ : state) {
    AviAudioPlayer p;
    if (p.open(path.c_str()) != 0) {
      state.SkipWithError("open failed");
      break;
    }
    p.set_pcm_output(48000, 2);
    std::int64_t samples = 0;
    while (p.is_end() == 0) {
      const SoundFrame* f = p.get_next_sound();
      if (f == nullptr) break;
      samples += f->get_sample_count();
    }
    seconds = static_cast<double>(samples) / 2 / 48000;
    benchmark::DoNotOptimize(samples);
  }
  state.counters["sound_s"] = seconds;
  state.SetLabel(kLabels[state.range(0)]);
}

void BM_FfmpegToEnd(benchmark::State& state) {
  const std::string cmd = "ffmpeg -nostdin -v error -i '" + pick(static_cast<int>(state.range(0))) +
                          "' -vn -ar 48000 -f s16le - > /dev/null";
  for (auto _ : state) {
    int code = 0;
    avitest::run_command(cmd, &code);
    if (code != 0) state.SkipWithError("ffmpeg failed");
  }
  state.SetLabel(kLabels[state.range(0)]);
}

// Landing anywhere in the two-hour MP3 index and reading one read's worth of bytes.
void BM_ReaderSeekAndRead(benchmark::State& state) {
  AudioMediaReader r;
  if (!r.open(files().mp3_long.c_str(), USE_AUDIO)) {
    state.SkipWithError("open failed");
    return;
  }
  r.select_audio(-1);
  const double length = r.audio_length();
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> at(0.0, length);
  std::vector<std::uint8_t> buffer(18432);
  for (auto _ : state) {
    r.seek_audio(at(rng));
    benchmark::DoNotOptimize(r.read_audio(buffer.data(), 18432));
  }
}

BENCHMARK(BM_PlayerToEnd)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_FfmpegToEnd)
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_ReaderSeekAndRead)->Unit(benchmark::kMicrosecond)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (!r.error_occurred) millis_[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const std::string tail = "/iterations:2/real_time";
    auto ours = [&](int i) { return get("BM_PlayerToEnd/" + std::to_string(i) + tail); };
    auto theirs = [&](int i) { return get("BM_FfmpegToEnd/" + std::to_string(i) + tail); };
    std::printf("\nSide by side, same run:\n");
    for (int i : {0, 1}) {
      std::printf("  %-16s player %8.0f ms, ffmpeg %8.0f ms: ffmpeg / player = %.2f\n", kLabels[i],
                  ours(i), theirs(i), ours(i) > 0 ? theirs(i) / ours(i) : 0.0);
    }
    const double scale = static_cast<double>(kLongMinutes) / kShortMinutes;
    std::printf("  Linearity (2 h / 15 min, %.0fx the sound): MP3 %.2fx, DV type-1 %.2fx\n", scale,
                ours(1) > 0 ? ours(0) / ours(1) : 0.0, ours(3) > 0 ? ours(2) / ours(3) : 0.0);
    std::printf("  DV type-1 2 h: %.1f ms per hour of sound\n", ours(2) / 2.0);
  }

 private:
  double get(const std::string& name) const {
    auto it = millis_.find(name);
    return it == millis_.end() ? 0.0 : it->second;
  }
  std::map<std::string, double> millis_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!files().ok) return 1;  // Make the inputs before any timing.
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
