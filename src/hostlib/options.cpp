#include <avikit/options.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace avikit {

namespace {

std::mutex& store_mutex() {
  static std::mutex m;
  return m;
}
std::map<std::uint32_t, std::uint32_t>& store() {
  static std::map<std::uint32_t, std::uint32_t> values;
  return values;
}

}  // namespace

std::uint32_t OptionsGet(std::uint32_t option, std::uint32_t, std::uint32_t) {
  {
    std::lock_guard<std::mutex> lock(store_mutex());
    auto it = store().find(option);
    if (it != store().end()) return it->second;
  }
  const std::string name = "AVIKIT_OPTION_" + std::to_string(option);
  if (const char* env = std::getenv(name.c_str())) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(env, &end, 10);
    if (end != env && *end == '\0' && v <= 0xFFFFFFFFul) return static_cast<std::uint32_t>(v);
  }
  if (option == kOptionYuvOutput) return 2;
  if (option == kOptionPictureCacheMib) return 256;
  return 0;
}

void options_set(std::uint32_t option, std::uint32_t value) {
  std::lock_guard<std::mutex> lock(store_mutex());
  store()[option] = value;
}

void options_clear(std::uint32_t option) {
  std::lock_guard<std::mutex> lock(store_mutex());
  store().erase(option);
}

}  // namespace avikit
