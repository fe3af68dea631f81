#include "cli/cli_common.h"

#include <avikit/smpte_timecode.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdlib>

#include "container/open_error.h"

using namespace avikit;

namespace avicli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_interrupt(int sig) {
  // A second signal while the current item finishes means "now".
  if (g_interrupted != 0) std::_Exit(128 + sig);
  g_interrupted = 1;
}

}  // namespace

bool parse_number(const std::string& text, double* out) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

int usage_error(const char* command, const std::string& message) {
  std::fprintf(stderr, "avikit %s: %s\n", command, message.c_str());
  return kExitUsage;
}

int failure(const char* command, const std::string& message) {
  std::fprintf(stderr, "avikit %s: %s\n", command, message.c_str());
  return kExitFailed;
}

bool parse_int(const std::string& text, std::int64_t* out) {
  if (text.empty()) return false;
  std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (i == text.size() || text.size() - i > 12) return false;
  for (std::size_t k = i; k < text.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
  *out = std::stoll(text);
  return true;
}

bool parse_position(const std::string& text, Position* out, std::string* why) {
  Position p;
  p.text = text;
  if (text.find_first_of(":;") != std::string::npos) {
    p.kind = Position::Kind::kTimecode;
  } else if (!text.empty() && text.back() == 's') {
    p.kind = Position::Kind::kSeconds;
    if (!parse_number(text.substr(0, text.size() - 1), &p.seconds)) {
      *why = "'" + text + "' is not a number of seconds";
      return false;
    }
  } else if (!parse_int(text, &p.frame)) {
    *why = "'" + text + "' is neither a frame number, seconds (83.5s) nor a timecode (00:01:23:12)";
    return false;
  }
  *out = p;
  return true;
}

std::optional<std::int64_t> position_frame(const Position& p, double rate, std::int64_t first) {
  switch (p.kind) {
    case Position::Kind::kFrame:
      return p.frame;
    case Position::Kind::kSeconds:
      // As seek_time rounds: the frame whose start is nearest.
      if (!(rate > 0.0) || std::fabs(p.seconds * rate) > 1e12) return std::nullopt;
      return static_cast<std::int64_t>(p.seconds * rate + (p.seconds < 0 ? -0.5 : 0.5));
    case Position::Kind::kTimecode: {
      // The timecode class counts 5 to 60 frames a second.
      if (!(rate >= 5.0 && rate <= 60.0)) return std::nullopt;
      SMPTE_TimeCode tc;
      tc.set_frame_rate(rate);
      if (tc.set_string(p.text.c_str()) == 0) return std::nullopt;
      return std::int64_t{tc.get_frame()} - first;
    }
  }
  return std::nullopt;
}

std::optional<double> position_seconds(const Position& p, double rate) {
  switch (p.kind) {
    case Position::Kind::kFrame:
      return static_cast<double>(p.frame);
    case Position::Kind::kSeconds:
      return p.seconds;
    case Position::Kind::kTimecode: {
      if (!(rate > 0.0)) return std::nullopt;
      const std::optional<std::int64_t> f = position_frame(p, rate, 0);
      if (!f) return std::nullopt;
      return static_cast<double>(*f) / rate;
    }
  }
  return std::nullopt;
}

std::string suffix_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string s = path.substr(dot + 1);
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

void install_interrupt_handlers() {
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A parent may hand the signals over blocked; one sent before now is then delivered here.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool interrupted() { return g_interrupted != 0; }

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

std::string open_failure_reason() {
  const char* text = avi_last_open_error_message();
  return text != nullptr && text[0] != '\0' ? text : "cannot be opened";
}

}  // namespace avicli
