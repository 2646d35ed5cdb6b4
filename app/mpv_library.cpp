#include "app/mpv_library.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>

namespace velmora::app {
namespace {

// Resolves `name` into `entry`; false (and the reason in `error`) when the library lacks it.
template <typename Function>
bool Resolve(void* handle, const char* name, Function& entry, QString* error) {
  entry = reinterpret_cast<Function>(::dlsym(handle, name));
  if (entry != nullptr) return true;
  if (error != nullptr)
    *error = QStringLiteral("no %1 in the player library").arg(QLatin1String(name));
  return false;
}

}  // namespace

QString MpvLibraryFileName() {
  return QStringLiteral("libmpv.so.%1").arg(MPV_CLIENT_API_VERSION >> 16);
}

const MpvLibrary* OpenMpvLibrary(const QString& fileName, QString* error) {
  void* handle = ::dlopen(fileName.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) *error = QString::fromLocal8Bit(::dlerror());
    return nullptr;
  }
  auto library = std::make_unique<MpvLibrary>();
  const bool complete =
      Resolve(handle, "mpv_create", library->create, error) &&
      Resolve(handle, "mpv_initialize", library->initialize, error) &&
      Resolve(handle, "mpv_destroy", library->destroy, error) &&
      Resolve(handle, "mpv_terminate_destroy", library->terminate_destroy, error) &&
      Resolve(handle, "mpv_set_option_string", library->set_option_string, error) &&
      Resolve(handle, "mpv_set_property", library->set_property, error) &&
      Resolve(handle, "mpv_set_property_string", library->set_property_string, error) &&
      Resolve(handle, "mpv_get_property_string", library->get_property_string, error) &&
      Resolve(handle, "mpv_free", library->free, error) &&
      Resolve(handle, "mpv_command", library->command, error) &&
      Resolve(handle, "mpv_observe_property", library->observe_property, error) &&
      Resolve(handle, "mpv_request_log_messages", library->request_log_messages, error) &&
      Resolve(handle, "mpv_set_wakeup_callback", library->set_wakeup_callback, error) &&
      Resolve(handle, "mpv_wait_event", library->wait_event, error) &&
      Resolve(handle, "mpv_error_string", library->error_string, error);
  if (!complete) {
    ::dlclose(handle);
    return nullptr;
  }
  // Handles made from it may live until the process ends, so the library stays loaded, and so
  // does this table.
  return library.release();
}

const MpvLibrary* LoadMpvLibrary(QString* error) {
  static std::mutex mutex;
  static const MpvLibrary* loaded = nullptr;
  const std::lock_guard lock(mutex);
  if (loaded == nullptr) loaded = OpenMpvLibrary(MpvLibraryFileName(), error);
  return loaded;
}

}  // namespace velmora::app
