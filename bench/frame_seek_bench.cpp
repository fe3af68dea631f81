// Exact frame fetching through AviVideoPlayer against ffmpeg's own way, in one run, at the
// default options (the player decodes to YV12), on 3000-frame MPEG-4 files with a key frame
// every 250 frames (made at start-up by the ffmpeg tool into a temp folder, 640x480, with and
// without B-frames):
//   - Random: 50 frames in a fixed random order, each fetched exactly by a freshly opened
//     player (so no picture is left over from the last repetition). Ours: seek(f, 1). ffmpeg's:
//     av_seek_frame to the key frame at or before f, flush, decode forward until the picture of
//     f comes out (AVFrame, 4:2:0).
//   - Backwards: the last 200 frames, from the end back, by reverse(1); against the same 200
//     frames played forward by forward(1). The first seek of each is not timed.
//   - Sequential: 300 frames played forward. Ours: forward(1) into the YV12 bitmap; the
//     baselines: libavcodec alone on packets already in memory, and the same with each picture
//     copied into a YV12 bitmap (the copy every codec-manager output makes).
//   - Memory: stepping backwards through 1080p MPEG-4 with the default picture cache; the
//     counter max_rss_mib is the process's peak resident memory, so run it on its own:
//       build/release/bench/frame_seek_bench --benchmark_filter=Backwards1080p
// Both sides decode on one thread (the codec driver does). Items are frames, so the rates can
// be divided directly: ratio = our time per frame / ffmpeg's.
//
//   build/release/bench/frame_seek_bench --benchmark_filter=-1080p --benchmark_repetitions=3
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include <avikit/avi_video_player.h>
#include <avikit/options.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/run_command.h"
#include "video/avi_video_player_impl.h"

using namespace avikit;

namespace {

constexpr int kFrames = 3000;
constexpr int kRandomFrames = 50;
constexpr int kSequentialFrames = 300;
constexpr int kBackwardFrames = 200;

struct Sample {
  const char* name;
  const char* args;
  const char* size;
  int frames;
};
constexpr Sample kSamples[] = {{"gop250", "-bf 0", "640x480", kFrames},
                               {"gop250_bframes", "-bf 2", "640x480", kFrames},
                               {"hd_gop250_bframes", "-bf 2", "1920x1080", 400}};
constexpr int kHd = 2;

// The samples live in a folder of this process, removed when it ends; with
// AVIKIT_SEEK_BENCH_DIR set, in that folder, kept and reused by the next runs.
class SampleDir {
 public:
  SampleDir() : keep_(std::getenv("AVIKIT_SEEK_BENCH_DIR") != nullptr) {
    dir_ = keep_ ? std::filesystem::path(std::getenv("AVIKIT_SEEK_BENCH_DIR"))
                 : std::filesystem::temp_directory_path() /
                       ("avikit-seek-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  ~SampleDir() {
    std::error_code ignored;
    if (!keep_) std::filesystem::remove_all(dir_, ignored);
  }
  SampleDir(const SampleDir&) = delete;
  SampleDir& operator=(const SampleDir&) = delete;
  std::string file(const std::string& name) const { return (dir_ / name).string(); }

 private:
  bool keep_;
  std::filesystem::path dir_;
};

const std::string& sample_path(int which) {
  static SampleDir dir;
  static std::string paths[std::size(kSamples)];
  std::string& path = paths[which];
  if (!path.empty()) return path;
  path = dir.file(std::string(kSamples[which].name) + ".avi");
  if (std::filesystem::exists(path)) return path;
  const std::string cmd =
      std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=") + kSamples[which].size +
      ":rate=25 -frames:v " + std::to_string(kSamples[which].frames) +
      " -c:v mpeg4 -vtag XVID -g 250 -q:v 4 " + kSamples[which].args + " '" + path + ".part.avi'";
  // Renamed once whole: a run cut short leaves no half sample for the next to reuse.
  std::error_code failed;
  if (std::system(cmd.c_str()) == 0) {
    std::filesystem::rename(path + ".part.avi", path, failed);
  } else {
    failed = std::make_error_code(std::errc::io_error);
  }
  if (failed) path.clear();
  return path;
}

std::vector<int> random_frames() {
  std::mt19937 rng(20240601);
  std::uniform_int_distribution<int> pick(0, kFrames - 1);
  std::vector<int> out;
  for (int i = 0; i < kRandomFrames; ++i) out.push_back(pick(rng));
  return out;
}

// --- ffmpeg's way ---------------------------------------------------------------------------

class FfmpegFile {
 public:
  explicit FfmpegFile(const std::string& path) {
    if (avformat_open_input(&fmt_, path.c_str(), nullptr, nullptr) < 0) return;
    if (avformat_find_stream_info(fmt_, nullptr) < 0) return;
    stream_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream_ < 0) return;
    const AVCodecParameters* par = fmt_->streams[stream_]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    ctx_ = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx_, par);
    ctx_->thread_count = 1;  // as the codec driver decodes
    if (avcodec_open2(ctx_, codec, nullptr) < 0) return;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    ok_ = true;
  }
  ~FfmpegFile() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&ctx_);
    avformat_close_input(&fmt_);
  }
  FfmpegFile(const FfmpegFile&) = delete;
  FfmpegFile& operator=(const FfmpegFile&) = delete;
  bool ok() const { return ok_; }
  const AVFrame* frame() const { return frame_; }

  // The picture of display frame f into frame(). An AVI stores no presentation times: the
  // demuxer numbers chunks, so with B-frames the decoder's best-effort times run the reorder
  // delay ahead of the display index. The first picture's time says by how much.
  bool fetch(std::int64_t f) {
    if (offset_ < 0) {
      if (!fetch_time(0) && !fetch_time(1)) return false;
      offset_ = frame_->best_effort_timestamp;
    }
    return fetch_time(f + offset_);
  }

 private:
  // Seeks to the key frame at or before the target time and decodes forward. A leading picture
  // of an open GOP (shown before its key frame, made from the GOP before) does not come out of
  // a decode that starts at that key frame: then start one key frame earlier.
  bool fetch_time(std::int64_t target) {
    AVStream* st = fmt_->streams[stream_];
    std::int64_t from = target;
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (decode_from(from, target)) return true;
      const int key = av_index_search_timestamp(st, from, AVSEEK_FLAG_BACKWARD);
      const AVIndexEntry* e = key > 0 ? avformat_index_get_entry(st, key) : nullptr;
      if (e == nullptr) return false;
      from = e->timestamp - 1;
    }
    return false;
  }

  bool decode_from(std::int64_t from, std::int64_t target) {
    if (av_seek_frame(fmt_, stream_, from, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(ctx_);
    last_ = AV_NOPTS_VALUE;
    while (av_read_frame(fmt_, packet_) >= 0) {
      const bool ours = packet_->stream_index == stream_;
      if (ours) avcodec_send_packet(ctx_, packet_);
      av_packet_unref(packet_);
      if (!ours) continue;
      const Outcome o = receive(target);
      if (o != Outcome::kNotYet) return o == Outcome::kReached;
    }
    avcodec_send_packet(ctx_, nullptr);
    return receive(target) == Outcome::kReached;
  }

  enum class Outcome { kNotYet, kReached, kPassed };

  // Pictures come out in display order; the last one of a stream carries no time and follows
  // the one before.
  Outcome receive(std::int64_t target) {
    while (avcodec_receive_frame(ctx_, frame_) == 0) {
      std::int64_t t = frame_->best_effort_timestamp;
      if (t == AV_NOPTS_VALUE && last_ != AV_NOPTS_VALUE) t = last_ + 1;
      last_ = t;
      if (t == target) return Outcome::kReached;
      if (t != AV_NOPTS_VALUE && t > target) return Outcome::kPassed;
    }
    return Outcome::kNotYet;
  }

  AVFormatContext* fmt_ = nullptr;
  AVCodecContext* ctx_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  bool ok_ = false;
  std::int64_t offset_ = -1;
  std::int64_t last_ = AV_NOPTS_VALUE;
};

void BM_FfmpegRandomFrames(benchmark::State& state) {
  const std::string& path = sample_path(static_cast<int>(state.range(0)));
  FfmpegFile file(path);
  if (path.empty() || !file.ok()) return state.SkipWithError("no sample");
  const std::vector<int> frames = random_frames();
  for (auto _ : state) {
    for (const int f : frames) {
      if (!file.fetch(f)) return state.SkipWithError("ffmpeg missed a frame");
      benchmark::DoNotOptimize(file.frame()->data[0][0]);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRandomFrames);
}

// --- The player -----------------------------------------------------------------------------

const std::uint8_t* bitmap(const AviVideoPlayer& p) {
  return p.impl()->reader()->frame().LockBits();
}

// Our frame f and ffmpeg's are the same picture: both ways fetch the same thing.
bool same_picture(AviVideoPlayer& p, FfmpegFile& ff, int f) {
  if (p.seek(f, 1) != f || !ff.fetch(f)) return false;
  const AVFrame* fr = ff.frame();
  const std::uint8_t* ours = bitmap(p);
  for (int y = 0; y < fr->height; ++y) {
    if (std::memcmp(ours + static_cast<std::size_t>(y) * static_cast<std::size_t>(fr->width),
                    fr->data[0] + static_cast<std::ptrdiff_t>(y) * fr->linesize[0],
                    static_cast<std::size_t>(fr->width)) != 0) {
      return false;
    }
  }
  return true;
}

void BM_PlayerRandomFrames(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const std::string& path = sample_path(which);
  {
    AviVideoPlayer player;
    if (path.empty() || player.open(path.c_str(), -1) != 0) {
      return state.SkipWithError("no sample");
    }
    FfmpegFile ff(path);
    // Key frame, open-GOP leading pictures, middle, last, and the first random targets.
    std::vector<int> check = {0, 250, 251, 1234, 2999};
    const std::vector<int> targets = random_frames();
    check.insert(check.end(), targets.begin(), targets.begin() + 5);
    for (const int f : check) {
      if (!same_picture(player, ff, f)) {
        return state.SkipWithError("the player and ffmpeg disagree on a frame");
      }
    }
  }
  const std::vector<int> frames = random_frames();
  std::optional<AviVideoPlayer> player;
  for (auto _ : state) {
    state.PauseTiming();
    player.reset();
    player.emplace();
    player->open(path.c_str(), -1);
    state.ResumeTiming();
    for (const int f : frames) {
      if (player->seek(f, 1) != f) return state.SkipWithError("seek missed");
      benchmark::DoNotOptimize(bitmap(*player)[0]);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRandomFrames);
}

// The same 50 frames as `avikit frames --at` and the library's batch read visit them: in file
// order, each one walking on from the one before when they share a run. The reference still
// seeks for every frame, as it would for any order.
void BM_PlayerAtList(benchmark::State& state) {
  const std::string& path = sample_path(static_cast<int>(state.range(0)));
  std::vector<int> frames = random_frames();
  std::stable_sort(frames.begin(), frames.end());
  std::optional<AviVideoPlayer> player;
  for (auto _ : state) {
    state.PauseTiming();
    player.reset();
    player.emplace();
    if (path.empty() || player->open(path.c_str(), -1) != 0) {
      return state.SkipWithError("no sample");
    }
    state.ResumeTiming();
    for (const int f : frames) {
      if (player->seek(f, 1) != f) return state.SkipWithError("seek missed");
      benchmark::DoNotOptimize(bitmap(*player)[0]);
    }
  }
  state.SetItemsProcessed(state.iterations() * kRandomFrames);
}

// Whole `avikit frames --at LIST -o F.raw` runs, as a user types them, less the start-up: each
// iteration's time is the CPU time of the 50-frame run minus that of a `--at 0` run (open,
// one key frame, one frame written), spread over the 49 frames between them.
void BM_CliAtList(benchmark::State& state) {
  const std::string& path = sample_path(static_cast<int>(state.range(0)));
  if (path.empty()) return state.SkipWithError("no sample");
  std::string list;
  for (const int f : random_frames()) list += (list.empty() ? "" : ",") + std::to_string(f);
  const std::string out = path + ".frames.raw";
  const auto run = [&](const std::string& at) {
    const std::string cmd = std::string(AVI_CLI_PATH) + " frames --quiet '" + path + "' --at " +
                            at + " -o '" + out + "'";
    const double before = avitest::children_cpu_seconds();
    const int code = std::system(cmd.c_str());
    return code == 0 ? avitest::children_cpu_seconds() - before : -1.0;
  };
  for (auto _ : state) {
    const double whole = run(list);
    const double start_up = run("0");
    if (whole < 0 || start_up < 0) return state.SkipWithError("avikit frames failed");
    state.SetIterationTime(std::max(whole - start_up, 0.0));
  }
  std::filesystem::remove(out);
  state.SetItemsProcessed(state.iterations() * (kRandomFrames - 1));
}

// The last kBackwardFrames frames of a sample, stepped through backwards or forwards by a
// freshly opened player standing on the first of them.
void step_through(benchmark::State& state, int which, bool backwards) {
  const std::string& path = sample_path(which);
  const int last = kSamples[which].frames - 1;
  const int first = last - kBackwardFrames + 1;
  if (path.empty()) return state.SkipWithError("no sample");
  std::optional<AviVideoPlayer> player;
  for (auto _ : state) {
    state.PauseTiming();
    player.reset();
    player.emplace();
    if (player->open(path.c_str(), -1) != 0) return state.SkipWithError("no sample");
    player->seek(backwards ? last : first, 1);
    state.ResumeTiming();
    for (int i = 1; i < kBackwardFrames; ++i) {
      if (backwards) {
        player->reverse(1);
      } else {
        player->forward(1);
      }
      benchmark::DoNotOptimize(bitmap(*player)[0]);
    }
    if (player->get_frame_offset() != (backwards ? first : last)) {
      return state.SkipWithError("the steps went astray");
    }
  }
  state.SetItemsProcessed(state.iterations() * (kBackwardFrames - 1));
}

void BM_PlayerBackwards(benchmark::State& state) {
  step_through(state, static_cast<int>(state.range(0)), true);
}
void BM_PlayerForwards(benchmark::State& state) {
  step_through(state, static_cast<int>(state.range(0)), false);
}

void BM_PlayerBackwards1080p(benchmark::State& state) {
  step_through(state, kHd, true);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["max_rss_mib"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_PlayerSequential(benchmark::State& state) {
  const std::string& path = sample_path(static_cast<int>(state.range(0)));
  AviVideoPlayer player;
  if (path.empty() || player.open(path.c_str(), -1) != 0) return state.SkipWithError("no sample");
  for (auto _ : state) {
    player.seek(kSequentialFrames, 1);  // somewhere else, so that frame 0 starts a run
    player.seek(0, 1);
    for (int f = 1; f < kSequentialFrames; ++f) player.forward(1);
    benchmark::DoNotOptimize(bitmap(player)[0]);
  }
  state.SetItemsProcessed(state.iterations() * kSequentialFrames);
}

// Decodes the packets of the first frames (read before timing) on one thread; with `copy`,
// each picture is also copied into a YV12 bitmap, as any output through the codec manager is.
void avcodec_sequential(benchmark::State& state, bool copy) {
  const std::string& path = sample_path(static_cast<int>(state.range(0)));
  if (path.empty()) return state.SkipWithError("no sample");
  // The packets of the first frames, read before timing: the decoder alone is measured.
  AVFormatContext* fmt = nullptr;
  avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
  avformat_find_stream_info(fmt, nullptr);
  const AVCodecParameters* par = fmt->streams[0]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(ctx, par);
  ctx->thread_count = 1;
  avcodec_open2(ctx, codec, nullptr);
  std::vector<AVPacket*> packets;
  for (AVPacket* p = av_packet_alloc();
       static_cast<int>(packets.size()) < kSequentialFrames && av_read_frame(fmt, p) >= 0;
       p = av_packet_alloc()) {
    packets.push_back(p);
  }
  AVFrame* frame = av_frame_alloc();
  std::vector<std::uint8_t> yv12(static_cast<std::size_t>(par->width * par->height * 3 / 2));
  const auto take = [&] {
    if (!copy) return;
    const int w = frame->width;
    const int h = frame->height;
    std::uint8_t* y = yv12.data();
    std::uint8_t* v = y + w * h;
    std::uint8_t* u = v + w * h / 4;
    av_image_copy_plane(y, w, frame->data[0], frame->linesize[0], w, h);
    av_image_copy_plane(v, w / 2, frame->data[2], frame->linesize[2], w / 2, h / 2);
    av_image_copy_plane(u, w / 2, frame->data[1], frame->linesize[1], w / 2, h / 2);
  };
  int pictures = 0;
  for (auto _ : state) {
    avcodec_flush_buffers(ctx);
    pictures = 0;
    for (AVPacket* p : packets) {
      avcodec_send_packet(ctx, p);
      while (avcodec_receive_frame(ctx, frame) == 0) {
        take();
        ++pictures;
      }
    }
    avcodec_send_packet(ctx, nullptr);
    while (avcodec_receive_frame(ctx, frame) == 0) {
      take();
      ++pictures;
    }
  }
  state.counters["pictures"] = pictures;
  state.SetItemsProcessed(state.iterations() * kSequentialFrames);
  for (AVPacket* p : packets) av_packet_free(&p);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  avformat_close_input(&fmt);
}

void BM_AvcodecSequential(benchmark::State& state) { avcodec_sequential(state, false); }
void BM_AvcodecSequentialCopied(benchmark::State& state) { avcodec_sequential(state, true); }

BENCHMARK(BM_PlayerRandomFrames)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegRandomFrames)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayerAtList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CliAtList)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_PlayerBackwards)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayerForwards)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayerBackwards1080p)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlayerSequential)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AvcodecSequential)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AvcodecSequentialCopied)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Prints the console table, then each job beside its reference from this run (the medians when
// repeated): time per frame from the items rate, which is CPU time but for the manual-time row.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const auto rate = r.counters.find("items_per_second");
      if (r.error_occurred || rate == r.counters.end() || rate->second.value <= 0) continue;
      const std::string name = r.run_name.str();
      if (r.aggregate_name == "median" || (r.aggregate_name.empty() && !medians_.count(name))) {
        per_frame_ms_[name] = 1e3 / rate->second.value;
      }
      if (r.aggregate_name == "median") medians_.insert(name);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nSide by side, same run (ms a frame; ratio > 1: avikit faster):\n");
    for (const int which : {0, 1}) {
      const std::string arg = "/" + std::to_string(which);
      const char* what = which == 0 ? "no B-frames" : "B-frames";
      const double theirs = get("BM_FfmpegRandomFrames" + arg);
      for (const char* ours : {"BM_PlayerRandomFrames", "BM_PlayerAtList", "BM_CliAtList"}) {
        const std::string name =
            ours + arg + (std::string(ours) == "BM_CliAtList" ? "/manual_time" : "");
        const double t = get(name);
        if (t > 0 && theirs > 0) {
          std::printf("  %-22s %-11s %7.2f  libavformat seek + decode %7.2f  %.2fx\n", ours, what,
                      t, theirs, theirs / t);
        }
      }
      const double back = get("BM_PlayerBackwards" + arg);
      const double fwd = get("BM_PlayerForwards" + arg);
      if (back > 0 && fwd > 0) {
        std::printf("  %-22s %-11s %7.3f  forwards %7.3f  backwards at %.0f %% of forward speed\n",
                    "BM_PlayerBackwards", what, back, fwd, 100.0 * fwd / back);
      }
    }
  }

 private:
  double get(const std::string& name) const {
    const auto it = per_frame_ms_.find(name);
    return it == per_frame_ms_.end() ? 0.0 : it->second;
  }
  std::map<std::string, double> per_frame_ms_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
