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
  // The clip, and files that do not open: a folder, text, a cut file and an unreadable one.
  static void SetUpTestSuite() {
    avitest::AviBuilder b;
    const int v = b.add_video({});
    const int a = b.add_audio({.channels = 1, .sample_rate = 22050});
    for (int f = 0; f < 10; ++f) {
      b.add_chunk(v, 2 * kRow, f % 3 == 0,
                  std::string(kRow, char(f)) + std::string(kRow, char(f + 100)));
      b.add_chunk(a, 4410);
    }
    ASSERT_TRUE(b.write_file(avitest::temp_path("cli_clip.avi")).has_value());
    std::filesystem::create_directories(avitest::temp_path("a_dir"));
    std::ofstream(avitest::temp_path("text.avi")) << "just some text\n";
    const std::string avi = avitest::read_file(AVI_SAMPLE_PATH);
    std::ofstream(avitest::temp_path("cut.avi"), std::ios::binary) << avi.substr(0, 100);
    std::ofstream(avitest::temp_path("locked.avi")) << avi;
    std::filesystem::permissions(avitest::temp_path("locked.avi"), std::filesystem::perms::none);
  }

  // Runs `avikit COMMAND FILE ARGS` (through `tool`) on a file of the temp folder, with -o OUT
  // unless ARGS holds an -o of its own.
  static Result run(const std::string& command, const std::string& args,
                    const std::string& suffix = ".raw", const std::string& file = "cli_clip.avi",
                    const std::string& tool = AVI_CLI_PATH) {
    const std::string out = avitest::temp_path("cli_out" + suffix);
    const std::string err = avitest::temp_path("cli_err.txt");
    const bool own = args.find("-o ") != std::string::npos;
    Result r;
    const std::string text =
        avitest::run_command(tool + " " + command + " '" + avitest::temp_path(file) + "' " + args +
                                 (own ? "" : " -o '" + out + "'") + " 2>'" + err + "'",
                             &r.code);
    r.out = own ? text : avitest::read_file(out);
    r.err = avitest::read_file(err);
    std::filesystem::remove(out);
    return r;
  }
};

struct CliCase {
  const char* command;
  std::string args;
  int code;               // exit status
  const char* err;        // a part of what it says
  std::string want = "";  // first byte of each frame written
  std::size_t frame_bytes = 2 * kRow;
  const char* file = "cli_clip.avi";
};

// Names each ctest case by its command line rather than by the row's bytes.
void PrintTo(const CliCase& c, std::ostream* os) {
  *os << c.command << ' ' << c.args << ' ' << c.file;
}

class CliRunTest : public CliTest, public ::testing::WithParamInterface<CliCase> {};

// What a run writes, what it says and its exit status: values out of range are refused with
// their range (2), a file that does not open with the reason the library gives (1), and neither
// writes anything.
TEST_P(CliRunTest, WritesWhatWasAskedOrSaysWhyNot) {
  const CliCase& c = GetParam();
  if (std::string(c.file) == "locked.avi" && ::geteuid() == 0) GTEST_SKIP() << "root reads all";
  const Result r = run(c.command, c.args, ".raw", c.file);
  EXPECT_EQ(r.code, c.code) << r.err;
  EXPECT_EQ(r.out.size(), c.want.size() * c.frame_bytes);
  std::string firsts;
  for (std::size_t p = 0; p < r.out.size(); p += c.frame_bytes) firsts.push_back(r.out[p]);
  EXPECT_EQ(firsts, c.want);
  EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << "progress without a terminal";
}

// Sixty frames: enough for progress, which only a terminal gets.
CliCase sixty_frames() {
  CliCase c{"frames", "--at 0", 0, "", std::string(1, '\0')};
  for (int i = 1; i < 60; ++i) {
    c.args += "," + std::to_string(i % 10);
    c.want.push_back(char(i % 10));
  }
  return c;
}

const CliCase kRuns[] = {
    {"frames", "--start 2 --count 3", 0, "", "\x02\x03\x04"},
    {"frames", "--count 3 --step 4", 0, "", std::string("\x00\x04\x08", 3)},
    {"frames", "", 0, "", std::string(1, '\0')},
    {"frames", "--at 5,1,9", 0, "", "\x05\x01\x09"},
    {"frames", "--reverse --cache 1 --trim 2:5 --count 3", 0, "", "\x05\x04\x03"},
    {"frames", "--trim 2:5 --at 0,3", 0, "", "\x02\x05"},
    // The run stops at the end of the stream, the window or the key frames; nothing repeats.
    {"frames", "--start 7 --count 5", 0, "3 of 5 frames: the stream ends at 9", "\x07\x08\x09"},
    {"frames", "--trim 2:5 --count 9", 0, "window", "\x02\x03\x04\x05"},
    {"frames", "--keyframes --count 9", 0, "no key frame after 9",
     std::string("\x00\x03\x06\x09", 4)},
    // Positions as a timecode and as seconds (25 frames a second).
    {"frames", "--start 00:00:00:04", 0, "", "\x04"},
    {"frames", "--start 0.28s --count 2", 0, "", "\x07\x08"},
    // Packed top-down rows, to standard output too; scaled.
    {"frames", "--pix-fmt bgr24 --count 2", 0, "", "\x64\x65"},
    {"frames", "--pix-fmt rgb24 --at 3,1 -o -", 0, "", "\x67\x65"},
    // libswscale takes the bottom row when it halves two rows, as ffmpeg's scale does.
    {"frames", "--pix-fmt gray --scale 2x1 --count 3", 0, "", std::string("\x00\x01\x02", 3), 2},
    sixty_frames(),
    {"frames", "--trim 5:2", 2, "0 <= FIRST <= LAST <= 9"},
    {"frames", "--start -1", 2, "frames 0 to 9"},
    {"frames", "--start 10", 2, "frames 0 to 9"},
    {"frames", "--trim 2:5 --start 4", 2, "offsets 0 to 3"},
    {"frames", "--at 1,10", 2, "frames 0 to 9"},
    {"frames", "--stream 5", 2, "video streams of"},
    {"frames", "--at 1 --start 2", 2, "leave out --start"},
    {"frames", "--count abc", 2, "0 to 2147483647, not abc"},
    {"frames", "--step 0", 2, "1 to 2147483647"},
    {"frames", "--pix-fmt yuv9", 2, "bgr24, rgb24, gray or yuv420p"},
    {"frames", "-o f.mp4", 2, "not f.mp4"},
    {"frames", "-o f%s.png", 2, "one %d and the suffix .png"},
    {"frames", "-o f%d%n.png", 2, "one %d and the suffix .png"},
    {"frames", "-o f%d%d.png", 2, "one %d and the suffix .png"},
    {"frames", "--cache -1", 2, "0 to 1048576"},
    {"audio", "--rate 96000", 2, "8000 to 48000"},
    {"audio", "--rate 7000", 2, "8000 to 48000"},
    {"audio", "--channels 0", 2, "1 or 2"},
    {"audio", "--channels 6", 2, "1 or 2"},
    {"audio", "--seek nan", 2, "nan"},
    {"audio", "--seek 5", 2, "0 to 1.000 s"},
    {"audio", "--blocks -2", 2, "from 0 up"},
    {"audio", "--volume -1", 2, "0 to 100"},
    {"audio", "--volume loud", 2, "not loud"},
    {"audio", "--stream 0", 2, "audio streams of"},
    {"audio", "-o a.mp3", 2, "not a.mp3"},
    {"sheet", "-o s.jpg", 2, "not s.jpg"},
    {"sheet", "--count 0", 2, "1 to 16384"},
    {"bogus", "", 2, "unknown command 'bogus'"},
    {"frames", "", 1, "No such file", "", 2 * kRow, "missing.avi"},
    {"audio", "", 1, "Permission denied", "", 2 * kRow, "locked.avi"},
    {"frames", "", 1, "Is a directory", "", 2 * kRow, "a_dir"},
    {"audio", "", 1, "not a RIFF AVI or WAVE file", "", 2 * kRow, "text.avi"},
    {"sheet", "-o never.png", 1, "the file ends inside the header list at byte 100", "", 2 * kRow,
     "cut.avi"},
};
INSTANTIATE_TEST_SUITE_P(Runs, CliRunTest, ::testing::ValuesIn(kRuns));

// PNGs named by frame number, YUV4MPEG2, and WAVE to standard output; the version names the
// libraries.
TEST_F(CliTest, WritesPngYuv4Mpeg2AndWave) {
  EXPECT_EQ(run("frames", "--at 5,1 -o '" + avitest::temp_path("frames_cli_%02d.png") + "'").code,
            0);
  for (const char* name : {"frames_cli_05.png", "frames_cli_01.png"})
    EXPECT_EQ(avitest::read_file(avitest::temp_path(name)).substr(0, 4), "\x89PNG") << name;
  const std::string y4m = run("frames", "--count 2", ".y4m").out;
  const std::string header = "YUV4MPEG2 W4 H2 F25:1 Ip A1:1 C420jpeg\n";
  EXPECT_EQ(std::pair(y4m.substr(0, header.size()), y4m.size()),
            std::pair(header, header.size() + 2 * (6 + 8 + 2 + 2)));
  const std::string wav = run("audio", "--seek 0.2s -o -").out;
  // PCM, mono, 22050 Hz, 44100 bytes a second, 2 bytes a sample frame, 16 bits.
  EXPECT_EQ(
      wav.substr(0, 4) + wav.substr(8, 32),
      std::string("RIFFWAVEfmt \x10\0\0\0\1\0\1\0\x22\x56\0\0\x44\xac\0\0\2\0\x10\0data", 36));
  // Whole blocks from 0.2 s on.
  EXPECT_TRUE((wav.size() - 44) % (2 * 1152) == 0 && wav.size() < 44u + 2u * 22050u) << wav.size();
  EXPECT_NE(avitest::run_command(AVI_CLI_PATH " --version").find("libavcodec "), std::string::npos);
}

// An interrupt finishes the item at hand and leaves a valid file: the signal is sent while
// blocked, so it arrives as the tool installs its handlers, before the first item.
TEST_F(CliTest, InterruptedRunsLeaveWholeFiles) {
  const std::string python =
      "python3 -c 'import os,signal,sys; signal.pthread_sigmask(signal.SIG_BLOCK,[signal.SIGINT]);"
      " os.kill(os.getpid(),signal.SIGINT); os.execv(sys.argv[1],sys.argv[1:])' " AVI_CLI_PATH;
  for (const bool audio : {true, false}) {
    const Result r = run(audio ? "audio" : "frames", audio ? "" : "--count 5",
                         audio ? ".wav" : ".raw", "cli_clip.avi", python);
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
    // One whole frame; one whole block, and the sizes written.
    EXPECT_EQ(r.out.size(), audio ? 44u + 2 * 1152u : 2 * kRow);
    EXPECT_TRUE(!audio || r.out.substr(4, 4) + r.out.substr(40, 4) ==
                              std::string("\x24\x09\0\0\0\x09\0\0", 8));
  }
}

}  // namespace
