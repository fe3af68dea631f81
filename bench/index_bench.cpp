// Opening and indexing large AVI files, side by side with ffprobe on the same files.
//
// Two files of 1,000,000 index entries are written to a temp folder at start: an AVI 1.0 file
// indexed by idx1, and an OpenDML file (two RIFF segments, the second beyond 4 GB behind a
// sparse gap, ten ix## standard indexes). Each is opened and indexed in-process (AviContainer,
// AviFileInfo), probed by the `avikit probe` command, and by `ffprobe -v error -show_streams`.
// A one-frame file of each kind gives the fixed start-up cost, so that the per-entry cost is
// (time on the large file - time on the small one) / 1,000,000. The commands are timed by the
// CPU time they spend, so a busy machine does not blur the ratio.
//
// Rows 4 and 5: a file of 100,000 chunks without any index, whose open rebuilds the index by
// walking "movi" chunk header by chunk header, and its one-chunk twin; ffprobe is also asked to
// count the packets (-count_packets), which makes it read every chunk as the rebuild does.
//
//   build/release/bench/index_bench --benchmark_min_time=1

#include <avikit/avi_file_info.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "container/avi_container.h"
#include "support/avi_builder.h"
#include "support/run_command.h"

using namespace avikit;

namespace {

constexpr int kEntries = 1'000'000;
constexpr int kBareChunks = 100'000;

struct BenchFiles {
  std::filesystem::path dir;
  std::string idx1_large, idx1_small, odml_large, odml_small, bare_large, bare_small;

  BenchFiles() {
    dir = std::filesystem::temp_directory_path() / "avikit-index-bench";
    std::filesystem::create_directories(dir);
    idx1_large = write(false, kEntries, "idx1_1m.avi");
    idx1_small = write(false, 1, "idx1_1.avi");
    odml_large = write(true, kEntries, "odml_1m.avi");
    odml_small = write(true, 1, "odml_1.avi");
    bare_large = write_bare(kBareChunks, "bare_100k.avi");
    bare_small = write_bare(1, "bare_1.avi");
  }
  ~BenchFiles() { std::filesystem::remove_all(dir); }

  // One 1x1 24-bit raw video stream ("00db" chunks of 4 bytes), key frame every 25.
  std::string write(bool odml, int entries, const char* name) const {
    avitest::AviBuilder b;
    avitest::VideoStream v;
    v.width = 1;
    v.height = 1;
    const int s = b.add_video(v);
    b.add_frames(s, entries, 4, 25);
    if (odml) {
      b.index(avitest::IndexKind::kOdml)
          .chunks_per_segment(static_cast<std::uint32_t>(entries / 2 + 1))
          .entries_per_ix(static_cast<std::uint32_t>(entries / 10 + 1))
          .gap_after_first_segment(std::uint64_t{9} << 29);  // 4.5 GB, sparse
    }
    const std::string path = (dir / name).string();
    if (!b.write_file(path)) std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return path;
  }
  std::string write_bare(int chunks, const char* name) const;
};

std::string BenchFiles::write_bare(int chunks, const char* name) const {
  avitest::AviBuilder b;
  avitest::VideoStream v;
  v.width = 1;
  v.height = 1;
  b.add_frames(b.add_video(v), chunks, 4, 1);
  b.index(avitest::IndexKind::kNone);
  const std::string path = (dir / name).string();
  if (!b.write_file(path)) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return path;
}

const BenchFiles& files() {
  static const BenchFiles f;
  return f;
}

const std::string& pick(int which) {
  const BenchFiles& f = files();
  switch (which) {
    case 0:
      return f.idx1_large;
    case 1:
      return f.idx1_small;
    case 2:
      return f.odml_large;
    case 3:
      return f.odml_small;
    case 4:
      return f.bare_large;
    default:
      return f.bare_small;
  }
}

const char* kLabels[] = {"idx1 1M",   "idx1 1",        "OpenDML 1M",
                         "OpenDML 1", "no index 100k", "no index 1"};

void BM_ContainerOpenIndex(benchmark::State& state) {
  const std::string& path = pick(static_cast<int>(state.range(0)));
  std::size_t entries = 0;
  for (auto _ : state) {
    AviContainer c(true);
    if (c.open(path.c_str()) != 1) state.SkipWithError("open failed");
    entries = c.video_index() != nullptr ? c.video_index()->entries.size() : 0;
    benchmark::DoNotOptimize(entries);
  }
  state.counters["entries"] = static_cast<double>(entries);
  state.SetLabel(kLabels[state.range(0)]);
}

void BM_ProbeInProcess(benchmark::State& state) {
  const std::string& path = pick(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    AviFileInfo info;
    std::uint32_t status[2] = {0, 0};
    if (info.open(path.c_str(), status) != 0) state.SkipWithError("probe failed");
    benchmark::DoNotOptimize(info.get_length());
  }
  state.SetLabel(kLabels[state.range(0)]);
}

// A command's time is the CPU time the command itself spent (the shell that starts it is a few
// hundred microseconds, alike for all): on a loaded machine a child's wall time mostly measures
// how long it waited for a core.
void time_command(benchmark::State& state, const std::string& cmd, const char* what) {
  for (auto _ : state) {
    const double before = avitest::children_cpu_seconds();
    int code = 0;
    avitest::run_command(cmd, &code);
    if (code != 0) return state.SkipWithError(what);
    state.SetIterationTime(avitest::children_cpu_seconds() - before);
  }
  state.SetLabel(kLabels[state.range(0)]);
}

void BM_AvikitProbeCommand(benchmark::State& state) {
  time_command(state,
               std::string(AVI_CLI_PATH) + " probe --json '" +
                   pick(static_cast<int>(state.range(0))) + "' >/dev/null",
               "avikit probe failed");
}

void BM_Ffprobe(benchmark::State& state) {
  time_command(
      state,
      "ffprobe -v error -show_streams '" + pick(static_cast<int>(state.range(0))) + "' >/dev/null",
      "ffprobe failed");
}

void BM_FfprobeCountPackets(benchmark::State& state) {
  time_command(state,
               "ffprobe -v error -count_packets -show_entries stream=nb_read_packets '" +
                   pick(static_cast<int>(state.range(0))) + "' >/dev/null",
               "ffprobe failed");
}

BENCHMARK(BM_ContainerOpenIndex)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProbeInProcess)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AvikitProbeCommand)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);
BENCHMARK(BM_FfprobeCountPackets)
    ->DenseRange(4, 5)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);
BENCHMARK(BM_Ffprobe)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(8);

// Prints the console table, then the ratios measured in this run.
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
    std::printf("\nSide by side, same run:\n");
    for (int large : {0, 2}) {
      const std::string l = "/" + std::to_string(large) + "/iterations:8/manual_time";
      const std::string s = "/" + std::to_string(large + 1) + "/iterations:8/manual_time";
      const double ours = get("BM_AvikitProbeCommand" + l);
      const double theirs = get("BM_Ffprobe" + l);
      const double ours_small = get("BM_AvikitProbeCommand" + s);
      const double theirs_small = get("BM_Ffprobe" + s);
      const double in_large = get("BM_ContainerOpenIndex/" + std::to_string(large) + "/real_time");
      const double in_small =
          get("BM_ContainerOpenIndex/" + std::to_string(large + 1) + "/real_time");
      std::printf("  %-10s avikit probe %8.1f ms, ffprobe %8.1f ms: %.1fx faster\n", kLabels[large],
                  ours, theirs, ours > 0 ? theirs / ours : 0.0);
      std::printf(
          "  %-10s per entry beyond start-up: open+index %.1f ns, avikit probe %.1f ns, "
          "ffprobe %.1f ns\n",
          kLabels[large], (in_large - in_small) * 1e6 / kEntries,
          (ours - ours_small) * 1e6 / kEntries, (theirs - theirs_small) * 1e6 / kEntries);
    }
  }

 private:
  double get(const std::string& name) const {
    auto it = millis_.find(name);
    return it == millis_.end() ? 0.0 : it->second;
  }
  std::map<std::string, double> millis_;  // real time per iteration, in the unit set above
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  files();  // Write the inputs before any timing.
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
