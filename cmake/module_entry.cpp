// The module's shared library is assembled from the subsystem object libraries; this file only
// gives it a translation unit of its own so that it links even before every subsystem exists.
namespace avikit {
const char* module_version() { return "0.1.0"; }
}  // namespace avikit
