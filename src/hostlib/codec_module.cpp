#include "hostlib/codec_module.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

namespace avikit {

namespace hostlib::detail {
namespace {

constexpr const char* kModuleName = "quorrin_codecs.so";
constexpr const char* kEntry = "quorrin_codec_module";
constexpr int kNoLogLevel = -1000;  // below every libav level: leave libav's own

// The module sits beside libquorrin, in the build tree and once installed alike, so it is found
// from the path libquorrin was loaded from, whatever the host's own RUNPATH says.
std::string module_path() {
  Dl_info self{};
  if (dladdr(reinterpret_cast<const void*>(&module_path), &self) == 0 ||
      self.dli_fname == nullptr) {
    return kModuleName;
  }
  const std::string library = self.dli_fname;
  const std::size_t slash = library.rfind('/');
  return slash == std::string::npos ? kModuleName : library.substr(0, slash + 1) + kModuleName;
}

std::atomic<int> g_log_level{kNoLogLevel};
std::atomic<bool> g_loaded{false};

struct Loaded {
  const CodecModule* module = nullptr;
  std::string error;
};

const Loaded& loaded() {
  static Loaded l;
  static std::once_flag once;
  std::call_once(once, [] {
    l.module = load_codec_module(module_path(), l.error);
    // Marked before the level is read: a level set meanwhile is applied here or by its setter.
    g_loaded.store(true);
    const int level = g_log_level.load();
    if (l.module != nullptr && level != kNoLogLevel) l.module->set_log_level(level);
  });
  return l;
}

}  // namespace

const CodecModule* load_codec_module(const std::string& path, std::string& error) {
  // Kept loaded until the process ends: decoders and drivers handed out point into it.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = "cannot load " + path + " (" + (why != nullptr ? why : "unknown error") + ")";
    return nullptr;
  }
  const auto entry = reinterpret_cast<const CodecModule* (*)()>(dlsym(handle, kEntry));
  const CodecModule* m = entry != nullptr ? entry() : nullptr;
  if (m == nullptr || m->version != kCodecModuleVersion || m->size != sizeof(CodecModule)) {
    error = path + " is not the codec module of this build";
    dlclose(handle);
    return nullptr;
  }
  error.clear();
  return m;
}

const CodecModule* codec_module() { return loaded().module; }

const std::string& codec_module_error() { return loaded().error; }

void set_codec_log_level(int level) {
  g_log_level.store(level);
  if (g_loaded.load()) {
    if (const CodecModule* m = codec_module()) m->set_log_level(level);
  }
}

}  // namespace hostlib::detail

}  // namespace avikit
