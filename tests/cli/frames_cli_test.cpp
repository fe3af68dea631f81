// The `avikit frames` and `avikit audio` command lines, checked on the built tool with a small
// clip: 10 raw frames of 4 x 2 pixels, key frames 0, 3, 6 and 9, frame f's bottom row filled with
// the byte f and its top row with f + 100 (so a top-down picture starts with f + 100), and a
// second of 22050 Hz mono sound.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/avi_builder.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

constexpr std::size_t kRow = 12;  // 4 pixels, 24 bits, no padding

struct Result {
  int code = -1;
  std::string out;  // the output file, or standard output with "-o -"
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    avitest::AviBuilder b;
    const int v = b.add_video({});
    avitest::AudioStream mono;
    mono.channels = 1;
    mono.sample_rate = 22050;
    const int a = b.add_audio(mono);
    for (int f = 0; f < 10; ++f) {
      b.add_chunk(v, 2 * kRow, f % 3 == 0,
                  std::string(kRow, char(f)) + std::string(kRow, char(f + 100)));
      b.add_chunk(a, 4410);
    }
    clip_ = new std::string(avitest::temp_path("cli_clip.avi"));
    ASSERT_TRUE(b.write_file(*clip_).has_value());
  }
  static void TearDownTestSuite() {
    std::filesystem::remove(*clip_);
    delete clip_;
  }

  // Runs `avikit COMMAND CLIP ARGS`, with -o OUT unless ARGS holds an -o of its own.
  static Result run(const std::string& command, const std::string& args,
                    const std::string& suffix = ".raw") {
    const std::string out = avitest::temp_path("cli_out" + suffix);
    const std::string err = avitest::temp_path("cli_err.txt");
    std::filesystem::remove(out);
    const bool own = args.find("-o ") != std::string::npos;
    Result r;
    const std::string stdout_text =
        avitest::run_command(std::string(AVI_CLI_PATH) + " " + command + " '" + *clip_ + "' " +
                                 args + (own ? "" : " -o '" + out + "'") + " 2>'" + err + "'",
                             &r.code);
    r.out = own ? stdout_text : avitest::read_file(out);
    r.err = avitest::read_file(err);
    std::filesystem::remove(out);
    return r;
  }

  static std::string* clip_;
};
std::string* CliTest::clip_ = nullptr;

// The first byte of every frame of a raw output.
std::string firsts(const std::string& raw, std::size_t frame_bytes) {
  std::string f;
  for (std::size_t p = 0; p < raw.size(); p += frame_bytes) f.push_back(raw[p]);
  return f;
}

struct FramesCase {
  std::string args;
  std::string want;  // first byte of each frame written
  std::size_t frame_bytes = 2 * kRow;
  const char* err = "";  // a part of standard error
};

class FramesCliTest : public CliTest, public ::testing::WithParamInterface<FramesCase> {};

TEST_P(FramesCliTest, WritesTheFramesAsked) {
  const FramesCase& c = GetParam();
  const Result r = run("frames", c.args);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.size() % c.frame_bytes, 0u);
  EXPECT_EQ(firsts(r.out, c.frame_bytes), c.want);
  EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << "progress without a terminal";
}

// Sixty frames: enough for progress, which only a terminal gets.
FramesCase sixty_frames() {
  FramesCase c{"--at 0", std::string(1, '\0')};
  for (int i = 1; i < 60; ++i) {
    c.args += "," + std::to_string(i % 10);
    c.want.push_back(char(i % 10));
  }
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FramesCliTest,
    ::testing::Values(
        FramesCase{"--start 2 --count 3", "\x02\x03\x04"},
        FramesCase{"--count 3 --step 4", std::string("\x00\x04\x08", 3)},
        FramesCase{"", std::string(1, '\0')}, FramesCase{"--at 5,1,9", "\x05\x01\x09"},
        FramesCase{"--reverse --cache 1 --trim 2:5 --count 3", "\x05\x04\x03"},
        FramesCase{"--trim 2:5 --at 0,3", "\x02\x05"},
        // The run stops at the end of the stream, the window or the key frames; nothing repeats.
        FramesCase{"--start 7 --count 5", "\x07\x08\x09", 2 * kRow,
                   "3 of 5 frames: the stream ends at 9"},
        FramesCase{"--trim 2:5 --count 9", "\x02\x03\x04\x05", 2 * kRow, "window"},
        FramesCase{"--keyframes --count 9", std::string("\x00\x03\x06\x09", 4), 2 * kRow,
                   "no key frame after 9"},
        // Positions as a timecode and as seconds (25 frames a second).
        FramesCase{"--start 00:00:00:04", "\x04"},
        FramesCase{"--start 0.28s --count 2", "\x07\x08"},
        // Packed top-down rows, to standard output too; scaled.
        FramesCase{"--pix-fmt bgr24 --count 2", "\x64\x65"},
        FramesCase{"--pix-fmt rgb24 --at 3,1 -o -", "\x67\x65"},
        // libswscale takes the bottom row when it halves two rows, as ffmpeg's scale does.
        FramesCase{"--pix-fmt gray --scale 2x1 --count 3", std::string("\x00\x01\x02", 3), 2},
        FramesCase{"--at 9,0 -o -", std::string("\x09\x00", 2)}, sixty_frames()));

struct RefusedCase {
  const char* command;
  const char* args;
  const char* err;  // a part of the message
};

class RefusedCliTest : public CliTest, public ::testing::WithParamInterface<RefusedCase> {};

// Out-of-range values are refused with their range, exit status 2, and nothing written.
TEST_P(RefusedCliTest, ExitsTwoWithTheRangeAndWritesNothing) {
  const RefusedCase& c = GetParam();
  const std::string out = avitest::temp_path("refused_out.raw");
  std::filesystem::remove(out);
  const Result r = run(c.command, c.args);
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedCliTest,
    ::testing::Values(RefusedCase{"frames", "--trim 5:2", "0 <= FIRST <= LAST <= 9"},
                      RefusedCase{"frames", "--start -1", "frames 0 to 9"},
                      RefusedCase{"frames", "--start 10", "frames 0 to 9"},
                      RefusedCase{"frames", "--start 00:00:01:00", "frames 0 to 9"},
                      RefusedCase{"frames", "--trim 2:5 --start 4", "offsets 0 to 3"},
                      RefusedCase{"frames", "--at 1,10", "frames 0 to 9"},
                      RefusedCase{"frames", "--stream 5", "video streams of"},
                      RefusedCase{"frames", "--at 1 --start 2", "leave out --start"},
                      RefusedCase{"frames", "--count abc", "0 to 2147483647, not abc"},
                      RefusedCase{"frames", "--step 0", "1 to 2147483647"},
                      RefusedCase{"frames", "--pix-fmt yuv9", "bgr24, rgb24, gray or yuv420p"},
                      RefusedCase{"frames", "-o f.mp4", "not f.mp4"},
                      RefusedCase{"frames", "--cache -1", "0 to 1048576"},
                      RefusedCase{"audio", "--rate 96000", "8000 to 48000"},
                      RefusedCase{"audio", "--rate 7000", "8000 to 48000"},
                      RefusedCase{"audio", "--channels 0", "1 or 2"},
                      RefusedCase{"audio", "--channels 6", "1 or 2"},
                      RefusedCase{"audio", "--seek nan", "nan"},
                      RefusedCase{"audio", "--seek 5", "0 to 1.000 s"},
                      RefusedCase{"audio", "--blocks -2", "from 0 up"},
                      RefusedCase{"audio", "--volume -1", "0 to 100"},
                      RefusedCase{"audio", "--volume loud", "not loud"},
                      RefusedCase{"audio", "--stream 0", "audio streams of"},
                      RefusedCase{"audio", "-o a.mp3", "not a.mp3"},
                      RefusedCase{"sheet", "-o s.jpg", "not s.jpg"},
                      RefusedCase{"sheet", "--count 0", "1 to 16384"}));

TEST_F(CliTest, FramesNamesPngsByFrameNumber) {
  const std::string pattern = avitest::temp_path("frames_cli_%02d.png");
  EXPECT_EQ(run("frames", "--at 5,1 -o '" + pattern + "'").code, 0);
  for (const char* name : {"frames_cli_05.png", "frames_cli_01.png"}) {
    const std::string path = avitest::temp_path(name);
    EXPECT_EQ(avitest::read_file(path).substr(0, 4), "\x89PNG") << path;
    std::filesystem::remove(path);
  }
}

TEST_F(CliTest, FramesWritesYuv4Mpeg2) {
  const Result r = run("frames", "--count 2", ".y4m");
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string header = "YUV4MPEG2 W4 H2 F25:1 Ip A1:1 C420jpeg\n";
  EXPECT_EQ(r.out.substr(0, header.size()), header);
  EXPECT_EQ(r.out.size(), header.size() + 2 * (6 + 8 + 2 + 2));
}

TEST_F(CliTest, AudioWritesWaveToStandardOutput) {
  const Result r = run("audio", "--seek 0.2s -o -");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 4), "RIFF");
  EXPECT_EQ(r.out.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ((r.out.size() - 44) % (2 * 1152), 0u);
  EXPECT_LT(r.out.size(), 44u + 2u * 22050u);  // from 0.2 s on
}

// An interrupt finishes the item at hand and leaves a valid file: the signal is sent while
// blocked, so it arrives as the tool installs its handlers, before the first item.
TEST_F(CliTest, InterruptedRunsLeaveWholeFiles) {
  const std::string out = avitest::temp_path("interrupted.wav");
  const std::string python =
      "python3 -c 'import os,signal,sys; signal.pthread_sigmask(signal.SIG_BLOCK,[signal.SIGINT]);"
      " os.kill(os.getpid(),signal.SIGINT); os.execv(sys.argv[1],sys.argv[1:])' " AVI_CLI_PATH;
  for (const char* command : {"audio", "frames --count 5"}) {
    const bool audio = command[0] == 'a';
    int code = -1;
    const std::string err = avitest::run_command(
        python + " " + command + " '" + *clip_ + "' -o '" + out + (audio ? "" : ".raw") + "' 2>&1",
        &code);
    EXPECT_EQ(code, 130) << err;
    EXPECT_NE(err.find("interrupted"), std::string::npos) << err;
    const std::string bytes = avitest::read_file(out + (audio ? "" : ".raw"));
    if (!audio) {
      EXPECT_EQ(bytes.size(), 2 * kRow);  // one whole frame
      continue;
    }
    ASSERT_EQ(bytes.size(), 44u + 2 * 1152u);  // one whole block, and the sizes written
    EXPECT_EQ(bytes.substr(4, 4), std::string("\x24\x09\0\0", 4));
    EXPECT_EQ(bytes.substr(40, 4), std::string("\x00\x09\0\0", 4));
  }
}

struct OpenFailureCase {
  const char* command;
  const char* file;
  const char* reason;
};

class OpenFailureTest : public ::testing::TestWithParam<OpenFailureCase> {};

// Every command names the reason the library gives after a failed open.
TEST_P(OpenFailureTest, SaysWhy) {
  const OpenFailureCase& c = GetParam();
  std::filesystem::create_directories(avitest::temp_path("a_dir"));
  std::ofstream(avitest::temp_path("text.avi")) << "just some text\n";
  std::string avi = avitest::read_file(AVI_SAMPLE_PATH);
  std::ofstream(avitest::temp_path("cut.avi"), std::ios::binary) << avi.substr(0, 100);
  const std::string locked = avitest::temp_path("locked.avi");
  std::ofstream(locked) << avi;
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  if (std::string(c.reason) == "Permission denied" && ::geteuid() == 0) {
    GTEST_SKIP() << "root reads every file";
  }
  const std::string command = c.command;
  const std::string out = command == "probe"   ? ""
                          : command == "audio" ? " -o o.wav"
                                               : " -o o%d.png";  // never made
  int code = -1;
  const std::string err = avitest::run_command(std::string(AVI_CLI_PATH) + " " + c.command + " '" +
                                                   avitest::temp_path(c.file) + "'" + out + " 2>&1",
                                               &code);
  EXPECT_EQ(code, 1);
  EXPECT_NE(err.find(c.reason), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenFailureTest,
    ::testing::Values(OpenFailureCase{"frames", "missing.avi", "No such file"},
                      OpenFailureCase{"probe", "missing.avi", "error: No such file"},
                      OpenFailureCase{"audio", "locked.avi", "Permission denied"},
                      OpenFailureCase{"frames", "a_dir", "Is a directory"},
                      OpenFailureCase{"audio", "text.avi", "not a RIFF AVI or WAVE file"},
                      OpenFailureCase{"sheet", "cut.avi",
                                      "the file ends inside the header list at byte 100"}));

TEST(CliMainTest, NamesUnknownCommandsAndVersions) {
  int code = -1;
  const std::string err = avitest::run_command(std::string(AVI_CLI_PATH) + " bogus 2>&1", &code);
  EXPECT_EQ(code, 2);
  EXPECT_NE(err.find("unknown command 'bogus'"), std::string::npos) << err;
  const std::string version = avitest::run_command(std::string(AVI_CLI_PATH) + " --version", &code);
  EXPECT_EQ(code, 0);
  EXPECT_NE(version.find("libavcodec "), std::string::npos) << version;
}

}  // namespace
