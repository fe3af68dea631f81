// Frames per second of the built-in DV decoder against libavcodec's dvvideo decoder followed by
// libswscale to bottom-up BGR24 (both on one thread, same frames, same run), and the speed-up of
// each SIMD stage over its scalar reference.
//
//   build/release/bench/dv_decode_bench --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true [--benchmark_filter=...]
//
// With repetitions the summary takes each benchmark's best run.
//
// The sample frames are made at start-up with the ffmpeg command-line tool (dvvideo encoder).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dv/block_decode.h"
#include "dv/colour.h"
#include "dv/cpu.h"
#include "dv/frame_decoder.h"
#include "dv/idct.h"
#include "dv/segment_fast.h"

using namespace avikit;

namespace {

constexpr int kFramesPerSample = 4;

struct Sample {
  std::string name;
  bool is625;
  std::vector<std::vector<std::uint8_t>> frames;
};

struct SampleSpec {
  const char* name;
  bool is625;
  const char* source;  // lavfi graph, without size and rate
  bool ildct;
};

constexpr SampleSpec kSpecs[] = {
    {"625/testsrc2", true, "testsrc2", false},
    {"625/mandelbrot", true, "mandelbrot", false},
    {"625/noise", true, "color=c=gray,noise=alls=100:allf=t+u", false},
    {"625/interlaced", true, "mandelbrot,tinterlace=mode=interleave_top", true},
    {"525/testsrc2", false, "testsrc2", false},
    {"525/mandelbrot", false, "mandelbrot", false},
    {"525/noise", false, "color=c=gray,noise=alls=100:allf=t+u", false},
    {"525/interlaced", false, "mandelbrot,tinterlace=mode=interleave_top", true},
};

std::vector<std::uint8_t> make_frames(const SampleSpec& s) {
  const std::string dir =
      std::filesystem::temp_directory_path() / ("avikit-dv-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string out = dir + "/sample.dv";
  const std::string size = s.is625 ? "s=720x576:r=25" : "s=720x480:r=30000/1001";
  std::string graph = s.source;
  const auto first_comma = graph.find(',');
  const std::string head = graph.substr(0, first_comma);
  const std::string tail = first_comma == std::string::npos ? "" : graph.substr(first_comma);
  const std::string src = head + (head.find('=') == std::string::npos ? "=" : ":") + size + tail;
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i '" + src + "' -frames:v " +
                          std::to_string(kFramesPerSample) + " -pix_fmt " +
                          (s.is625 ? "yuv420p" : "yuv411p") + " -c:v dvvideo " +
                          (s.ildct ? "-flags +ildct " : "") + "-f dv '" + out + "'";
  std::vector<std::uint8_t> bytes;
  if (std::system(cmd.c_str()) == 0) {
    std::ifstream in(out, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::filesystem::remove_all(dir);
  return bytes;
}

std::vector<Sample>& samples() {
  static std::vector<Sample> all = [] {
    std::vector<Sample> v;
    for (const SampleSpec& s : kSpecs) {
      const std::vector<std::uint8_t> bytes = make_frames(s);
      const std::size_t fb = dv::picture_format(s.is625).frame_bytes;
      Sample sample{s.name, s.is625, {}};
      for (std::size_t off = 0; off + fb <= bytes.size(); off += fb) {
        sample.frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(off),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(off + fb));
      }
      v.push_back(std::move(sample));
    }
    return v;
  }();
  return all;
}

void BM_Avikit(benchmark::State& state, std::size_t index, dv::SimdLevel level) {
  const Sample& s = samples()[index];
  if (s.frames.empty()) {
    state.SkipWithError("could not make the sample with ffmpeg");
    return;
  }
  dv::set_simd_level_cap(level);
  std::vector<std::uint8_t> out(dv::picture_format(s.is625).bgr_bytes);
  std::size_t n = 0;
  for (auto _ : state) {
    dv::dv_decode_frame(s.frames[n++ % s.frames.size()].data(), out.data(), s.is625 ? 1 : 0);
    benchmark::DoNotOptimize(out.data());
  }
  dv::set_simd_level_cap(dv::kSimdAvx512);
  state.SetItemsProcessed(state.iterations());
}

struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
  void operator()(AVFrame* f) const { av_frame_free(&f); }
  void operator()(AVPacket* p) const { av_packet_free(&p); }
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

void BM_Ffmpeg(benchmark::State& state, std::size_t index) {
  const Sample& s = samples()[index];
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVVIDEO);
  std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
  if (s.frames.empty() || !ctx) {
    state.SkipWithError("no sample or no decoder");
    return;
  }
  ctx->thread_count = 1;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
    state.SkipWithError("avcodec_open2 failed");
    return;
  }
  std::unique_ptr<AVFrame, CodecDeleter> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, CodecDeleter> pkt(av_packet_alloc());
  const int height = s.is625 ? 576 : 480;
  const AVPixelFormat fmt = s.is625 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV411P;
  std::unique_ptr<SwsContext, CodecDeleter> sws(
      sws_getContext(720, height, fmt, 720, height, AV_PIX_FMT_BGR24,
                     static_cast<int>(state.range(0)), nullptr, nullptr, nullptr));
  std::vector<std::uint8_t> out(720 * 3 * static_cast<std::size_t>(height));
  // Bottom-up like the built-in decoder: start at the last line, negative stride.
  std::uint8_t* dst[4] = {out.data() + 720 * 3 * (height - 1), nullptr, nullptr, nullptr};
  const int dst_stride[4] = {-720 * 3, 0, 0, 0};
  std::size_t n = 0;
  for (auto _ : state) {
    const auto& f = s.frames[n++ % s.frames.size()];
    pkt->data = const_cast<std::uint8_t*>(f.data());
    pkt->size = static_cast<int>(f.size());
    if (avcodec_send_packet(ctx.get(), pkt.get()) < 0 ||
        avcodec_receive_frame(ctx.get(), frame.get()) < 0) {
      state.SkipWithError("decode failed");
      break;
    }
    sws_scale(sws.get(), frame->data, frame->linesize, 0, height, dst, dst_stride);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- stages: scalar reference against the vector kernels ----

std::vector<std::int16_t> random_coeffs(std::size_t blocks) {
  // Coded amplitudes as the decoder stores them: a DC and a few AC values.
  std::mt19937 rng(7);
  std::vector<std::int16_t> c(blocks * 64);
  std::uniform_int_distribution<int> dc(-256, 255), amp(-20, 20);
  for (std::size_t b = 0; b < blocks; ++b) {
    c[64 * b] = static_cast<std::int16_t>(dc(rng));
    for (int k = 0; k < 10; ++k)
      c[64 * b + static_cast<std::size_t>(rng() % 64)] = static_cast<std::int16_t>(amp(rng));
  }
  return c;
}

void BM_Idct(benchmark::State& state, bool field, dv::SimdLevel level) {
  constexpr std::size_t kBlocks = 64;
  alignas(32) static std::int16_t coeffs[kBlocks][64];
  const auto src = random_coeffs(kBlocks);
  std::vector<std::uint8_t> dst(kBlocks * 64);
  const dv::IdctKernels k = dv::idct_kernels(level);
  const dv::BlockFactors& f = dv::block_factors(field ? 1 : 0, 6);
  for (auto _ : state) {
    // The kernels clear their input, as the decoder needs.
    std::memcpy(coeffs, src.data(), sizeof coeffs);
    if (k.put2_88 != nullptr) {
      for (std::size_t b = 0; b < kBlocks; b += 2) {
        (field ? k.put2_248 : k.put2_88)(coeffs[b], f, coeffs[b + 1], f, &dst[64 * b],
                                         &dst[64 * b + 64], 8);
      }
    } else {
      for (std::size_t b = 0; b < kBlocks; ++b)
        (field ? k.put_248 : k.put_88)(coeffs[b], f, &dst[64 * b], 8);
    }
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBlocks));
}

// The four-block kernels on the same blocks as BM_Idct, counted per block.
void BM_Idct4(benchmark::State& state, bool field) {
  constexpr std::size_t kBlocks = 64;
  alignas(32) static std::int16_t coeffs[kBlocks][64];
  const auto src = random_coeffs(kBlocks);
  std::vector<std::uint8_t> dst(kBlocks * 64);
  const dv::IdctKernels k = dv::idct_kernels(dv::kSimdAvx512);
  const dv::BlockFactors& f = dv::block_factors(field ? 1 : 0, 6);
  for (auto _ : state) {
    std::memcpy(coeffs, src.data(), sizeof coeffs);
    for (std::size_t b = 0; b < kBlocks; b += 4) {
      const dv::Put4Blocks q{
          {coeffs[b], coeffs[b + 1], coeffs[b + 2], coeffs[b + 3]},
          {&f, &f, &f, &f},
          {&dst[64 * b], &dst[64 * b + 64], &dst[64 * b + 128], &dst[64 * b + 192]}};
      (field ? k.put4_248 : k.put4_88)(q, 8);
    }
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBlocks));
}

void BM_BgrLine(benchmark::State& state, dv::SimdLevel level) {
  std::mt19937 rng(3);
  std::vector<std::uint8_t> y(720), out(2160);
  std::vector<std::int8_t> cb(dv::kDoubledChromaPadded), cr(dv::kDoubledChromaPadded);
  for (auto& v : y) v = static_cast<std::uint8_t>(rng());
  for (auto& v : cb) v = static_cast<std::int8_t>(rng());
  for (auto& v : cr) v = static_cast<std::int8_t>(rng());
  const dv::ColourKernels k = dv::colour_kernels(level);
  for (auto _ : state) {
    k.bgr_line(y.data(), cb.data(), cr.data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 720);
}

// A whole 4:2:0 line: both chroma averages and the conversion.
void BM_BgrLine420(benchmark::State& state, dv::SimdLevel level) {
  std::mt19937 rng(4);
  std::vector<std::uint8_t> y(720), rows(4 * 360), out(2160);
  for (auto& v : y) v = static_cast<std::uint8_t>(rng());
  for (auto& v : rows) v = static_cast<std::uint8_t>(rng());
  const dv::ChromaRowPairs pairs{&rows[0], &rows[360], &rows[720], &rows[1080]};
  const dv::ColourKernels k = dv::colour_kernels(level);
  for (auto _ : state) {
    k.bgr_line_420(y.data(), pairs, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 720);
}

void BM_Chroma411(benchmark::State& state, dv::SimdLevel level) {
  std::vector<std::uint8_t> src(180, 77);
  std::vector<std::int8_t> out(dv::kDoubledChromaPadded);
  const dv::ColourKernels k = dv::colour_kernels(level);
  for (auto _ : state) {
    k.chroma_411(src.data(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 360);
}

// Code parsing of every segment of a frame: the bit-by-bit tree walk against the look-ups.
void BM_Parse(benchmark::State& state, std::size_t index, bool fast) {
  const Sample& s = samples()[index];
  if (s.frames.empty()) {
    state.SkipWithError("no sample");
    return;
  }
  auto ref = std::make_unique<dv::SegmentState>();
  auto st = std::make_unique<dv::FastSegments>();
  const std::size_t total = (s.is625 ? 12 : 10) * 27;
  const std::uint8_t* f = s.frames[0].data();
  auto segment = [&](std::size_t n) {
    return f + 80 * (150 * (n / 27) + 7 + 5 * (n % 27) + n % 27 / 3);
  };
  for (auto _ : state) {
    if (fast) {
      for (std::size_t n = 0; n < total; n += dv::kFastSegments) {
        const std::size_t count = std::min(total - n, dv::kFastSegments);
        const std::uint8_t* segs[dv::kFastSegments];
        for (std::size_t j = 0; j < count; ++j) segs[j] = segment(n + j);
        std::memset(st->coeffs, 0, sizeof st->coeffs);
        dv::parse_segments_fast(*st, segs, count);
        benchmark::DoNotOptimize(st->coeffs);
      }
    } else {
      for (std::size_t n = 0; n < total; ++n) {
        dv::dv_parse_segment(*ref, segment(n));
        benchmark::DoNotOptimize(ref->coeffs);
      }
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// Prints the ratios of the runs that belong together once all have run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        const auto it = r.counters.find("items_per_second");
        // With repetitions, keep each benchmark's best run: on a shared machine the slower runs
        // measure the neighbours more than the code.
        if (it != r.counters.end()) {
          double& best = rate_[r.run_name.function_name];
          best = std::max(best, it->second.value);
        }
      } else if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "mean") {
        // --benchmark_report_aggregates_only hides the single runs: fall back to the means.
        const auto it = r.counters.find("items_per_second");
        if (it != r.counters.end()) mean_[r.run_name.function_name] = it->second.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-18s %12s %12s %12s %12s %8s %8s %8s\n", "sample", "avikit f/s", "avx2 f/s",
                "scalar f/s", "ffmpeg f/s", "ratio", "avx2/ff", "best/avx2");
    for (const Sample& s : samples()) {
      const double ours = find("Avikit/" + s.name);
      const double avx2 = find("AvikitAvx2/" + s.name);
      const double scalar = find("AvikitScalar/" + s.name);
      const double ff = find("Ffmpeg/" + s.name);
      std::printf("%-18s %12.0f %12.0f %12.0f %12.0f %8.2f %8.2f %8.2f\n", s.name.c_str(), ours,
                  avx2, scalar, ff, ff > 0 ? ours / ff : 0.0, ff > 0 ? avx2 / ff : 0.0,
                  avx2 > 0 ? ours / avx2 : 0.0);
    }
    std::printf("\n%-12s %9s %9s %9s %9s %8s %8s %8s %8s\n", "stage (it/s)", "scalar", "sse2",
                "avx2", "avx512", "sse2/sc", "avx2/sc", "512/sc", "512/avx2");
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    for (const char* stage : {"Idct88", "Idct248", "BgrLine", "BgrLine420", "Chroma411"}) {
      const double sc = find(std::string(stage) + "/scalar");
      const double s2 = find(std::string(stage) + "/sse2");
      const double a2 = find(std::string(stage) + "/avx2");
      const double a5 = find(std::string(stage) + "/avx512");
      std::printf("%-12s %9.3g %9.3g %9.3g %9.3g %8.2f %8.2f %8.2f %8.2f\n", stage, sc, s2, a2, a5,
                  ratio(s2, sc), ratio(a2, sc), ratio(a5, sc), ratio(a5, a2));
    }
    for (const Sample& s : samples()) {
      const double tree = find("ParseTree/" + s.name);
      const double lut = find("ParseLookup/" + s.name);
      if (tree > 0)
        std::printf("%-22s lookup/tree %6.2f\n", ("parse " + s.name).c_str(), lut / tree);
    }
  }

 private:
  double find(const std::string& prefix) const {
    for (const auto* rates : {&rate_, &mean_}) {
      for (const auto& [name, rate] : *rates) {
        if (name.rfind(prefix, 0) == 0) return rate;
      }
    }
    return 0.0;
  }
  std::map<std::string, double> rate_;
  std::map<std::string, double> mean_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (std::size_t i = 0; i < samples().size(); ++i) {
    const std::string& name = samples()[i].name;
    const dv::SimdLevel best = dv::active_simd_level();
    benchmark::RegisterBenchmark(("Avikit/" + name).c_str(), BM_Avikit, i, best);
    // The previous best level beside the best one, so that a new kernel's gain is measured side
    // by side.
    if (best > dv::kSimdAvx2) {
      benchmark::RegisterBenchmark(("AvikitAvx2/" + name).c_str(), BM_Avikit, i, dv::kSimdAvx2);
    }
    benchmark::RegisterBenchmark(("AvikitScalar/" + name).c_str(), BM_Avikit, i, dv::kSimdScalar);
    // The fastest libswscale setting for this conversion, so that the comparison flatters us least.
    benchmark::RegisterBenchmark(("Ffmpeg/" + name).c_str(), BM_Ffmpeg, i)->Arg(SWS_POINT);
    benchmark::RegisterBenchmark(("ParseTree/" + name).c_str(), BM_Parse, i, false);
    benchmark::RegisterBenchmark(("ParseLookup/" + name).c_str(), BM_Parse, i, true);
  }
  const std::pair<const char*, dv::SimdLevel> levels[] = {{"scalar", dv::kSimdScalar},
                                                          {"sse2", dv::kSimdSse2},
                                                          {"avx2", dv::kSimdAvx2},
                                                          {"avx512", dv::kSimdAvx512}};
  for (const auto& [lname, level] : levels) {
    if (level > dv::detected_simd_level()) continue;
    benchmark::RegisterBenchmark((std::string("BgrLine/") + lname).c_str(), BM_BgrLine, level);
    benchmark::RegisterBenchmark((std::string("BgrLine420/") + lname).c_str(), BM_BgrLine420,
                                 level);
    // The one- and two-block transforms and the 4:1:1 chroma stop at AVX2; the four-block
    // transforms are measured on their own below.
    if (level > dv::kSimdAvx2) continue;
    benchmark::RegisterBenchmark((std::string("Idct88/") + lname).c_str(), BM_Idct, false, level);
    benchmark::RegisterBenchmark((std::string("Idct248/") + lname).c_str(), BM_Idct, true, level);
    benchmark::RegisterBenchmark((std::string("Chroma411/") + lname).c_str(), BM_Chroma411, level);
  }
  if (dv::detected_simd_level() >= dv::kSimdAvx512) {
    benchmark::RegisterBenchmark("Idct88x4/avx512", BM_Idct4, false);
    benchmark::RegisterBenchmark("Idct248x4/avx512", BM_Idct4, true);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
