#include <avikit/platform/vfw.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace avikit::platform {

struct IcInstance {
  DRIVERPROC proc = nullptr;
  DWORD_PTR driver_id = 0;
  DWORD fcc_type = 0;
  DWORD fcc_handler = 0;
};

namespace {

struct Driver {
  DWORD fcc_type;
  DWORD fcc_handler;
  DRIVERPROC proc;
};

std::atomic<int> g_open_instances{0};

std::mutex& registry_mutex() {
  static std::mutex m;
  return m;
}
std::vector<Driver>& registry() {
  static std::vector<Driver> drivers;
  return drivers;
}

bool find_driver(DWORD fcc_type, DWORD fcc_handler, DRIVERPROC* proc) {
  std::lock_guard<std::mutex> lock(registry_mutex());
  for (const Driver& d : registry()) {
    if (d.fcc_type == fcc_type && upper_fourcc(d.fcc_handler) == upper_fourcc(fcc_handler)) {
      *proc = d.proc;
      return true;
    }
  }
  return false;
}

HIC open_with(DRIVERPROC proc, DWORD fcc_type, DWORD fcc_handler, UINT mode) {
  ICOPEN open_params;
  open_params.dwSize = sizeof(ICOPEN);
  open_params.fccType = fcc_type;
  open_params.fccHandler = fcc_handler;
  open_params.dwFlags = mode;
  auto instance = std::make_unique<IcInstance>();
  instance->proc = proc;
  instance->fcc_type = fcc_type;
  instance->fcc_handler = fcc_handler;
  const LRESULT id = proc(0, instance.get(), DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open_params));
  if (id == 0) return nullptr;
  instance->driver_id = static_cast<DWORD_PTR>(id);
  ++g_open_instances;
  return instance.release();  // Owned by the caller until ICClose.
}

bool accepts(HIC ic, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  return ICDecompressQuery(ic, in, out) == ICERR_OK;
}

}  // namespace

BOOL ICInstall(DWORD fcc_type, DWORD fcc_handler, LPARAM param, const char* /*description*/,
               UINT flags) {
  if ((flags & ICINSTALL_FUNCTION) == 0 || param == 0) return FALSE;
  auto proc = reinterpret_cast<DRIVERPROC>(param);
  std::lock_guard<std::mutex> lock(registry_mutex());
  for (Driver& d : registry()) {
    if (d.fcc_type == fcc_type && upper_fourcc(d.fcc_handler) == upper_fourcc(fcc_handler)) {
      d.proc = proc;
      return TRUE;
    }
  }
  registry().push_back({fcc_type, fcc_handler, proc});
  return TRUE;
}

BOOL ICRemove(DWORD fcc_type, DWORD fcc_handler, UINT /*flags*/) {
  std::lock_guard<std::mutex> lock(registry_mutex());
  auto& drivers = registry();
  for (auto it = drivers.begin(); it != drivers.end(); ++it) {
    if (it->fcc_type == fcc_type && upper_fourcc(it->fcc_handler) == upper_fourcc(fcc_handler)) {
      drivers.erase(it);
      return TRUE;
    }
  }
  return FALSE;
}

HIC ICOpen(DWORD fcc_type, DWORD fcc_handler, UINT mode) {
  DRIVERPROC proc = nullptr;
  if (!find_driver(fcc_type, fcc_handler, &proc)) return nullptr;
  return open_with(proc, fcc_type, fcc_handler, mode);
}

HIC ICLocate(DWORD fcc_type, DWORD fcc_handler, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out,
             WORD flags) {
  const UINT mode = flags != 0 ? flags : ICMODE_DECOMPRESS;
  if (HIC ic = ICOpen(fcc_type, fcc_handler, mode)) {
    if (accepts(ic, in, out)) return ic;
    ICClose(ic);
  }
  std::vector<Driver> drivers;
  {
    std::lock_guard<std::mutex> lock(registry_mutex());
    drivers = registry();
  }
  for (const Driver& d : drivers) {
    if (d.fcc_type != fcc_type) continue;
    if (HIC ic = open_with(d.proc, d.fcc_type, d.fcc_handler, mode)) {
      if (accepts(ic, in, out)) return ic;
      ICClose(ic);
    }
  }
  return nullptr;
}

LRESULT ICSendMessage(HIC ic, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
  if (ic == nullptr || ic->proc == nullptr) return ICERR_BADHANDLE;
  return ic->proc(ic->driver_id, ic, message, static_cast<LPARAM>(param1),
                  static_cast<LPARAM>(param2));
}

LRESULT ICGetInfo(HIC ic, ICINFO* info, DWORD size) {
  if (ic == nullptr || info == nullptr || size < sizeof(ICINFO)) return 0;
  info->dwSize = sizeof(ICINFO);
  info->fccType = ic->fcc_type;
  info->fccHandler = ic->fcc_handler;
  return ICSendMessage(ic, ICM_GETINFO, reinterpret_cast<DWORD_PTR>(info), size);
}

DWORD ICDecompress(HIC ic, DWORD flags, BITMAPINFOHEADER* format_in, void* data,
                   BITMAPINFOHEADER* format_out, void* bits) {
  ICDECOMPRESS params;
  params.dwFlags = flags;
  params.lpbiInput = format_in;
  params.lpInput = data;
  params.lpbiOutput = format_out;
  params.lpOutput = bits;
  return static_cast<DWORD>(ICSendMessage(ic, ICM_DECOMPRESS, reinterpret_cast<DWORD_PTR>(&params),
                                          sizeof(ICDECOMPRESS)));
}

LRESULT ICClose(HIC ic) {
  if (ic == nullptr) return ICERR_BADHANDLE;
  ic->proc(ic->driver_id, ic, DRV_CLOSE, 0, 0);
  delete ic;  // Pairs with the release in open_with.
  --g_open_instances;
  return ICERR_OK;
}

int ic_open_instances() { return g_open_instances.load(); }

std::vector<IcDriver> ic_installed_drivers() {
  std::lock_guard<std::mutex> lock(registry_mutex());
  std::vector<IcDriver> out;
  for (const Driver& d : registry()) out.push_back({d.fcc_type, d.fcc_handler, d.proc});
  return out;
}

void ic_replace_drivers(std::vector<IcDriver> drivers) {
  std::lock_guard<std::mutex> lock(registry_mutex());
  registry().clear();
  for (const IcDriver& d : drivers) registry().push_back({d.fcc_type, d.fcc_handler, d.proc});
}

}  // namespace avikit::platform
