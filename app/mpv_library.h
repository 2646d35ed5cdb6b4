#pragma once
// The player's library, opened when the first station is played rather than when the program
// starts. libmpv links about 170 libraries (codecs, filters, network protocols, speech voices),
// and loading them costs some 36 MiB of memory and a good part of the start-up time, which a
// window that shows only its station list has no use for.
//
// The entry points keep libmpv's own names and types (mpv/client.h); the library is opened
// once and stays loaded for the rest of the process.

#include <mpv/client.h>

#include <QString>

namespace velmora::app {

struct MpvLibrary {
  decltype(&::mpv_create) create;
  decltype(&::mpv_initialize) initialize;
  decltype(&::mpv_destroy) destroy;
  decltype(&::mpv_terminate_destroy) terminate_destroy;
  decltype(&::mpv_set_option_string) set_option_string;
  decltype(&::mpv_set_property) set_property;
  decltype(&::mpv_set_property_string) set_property_string;
  decltype(&::mpv_get_property_string) get_property_string;
  decltype(&::mpv_free) free;
  decltype(&::mpv_command) command;
  decltype(&::mpv_observe_property) observe_property;
  decltype(&::mpv_request_log_messages) request_log_messages;
  decltype(&::mpv_set_wakeup_callback) set_wakeup_callback;
  decltype(&::mpv_wait_event) wait_event;
  decltype(&::mpv_error_string) error_string;
};

// The file name of the libmpv whose header the program was built with: libmpv.so.<major
// version of its client API>.
QString MpvLibraryFileName();

// The library's entry points, opened from MpvLibraryFileName() on the first call; nullptr when
// it cannot be opened or lacks an entry point, and then `error` (if given) says why, and the
// next call tries again. Safe from any thread.
const MpvLibrary* LoadMpvLibrary(QString* error = nullptr);

// Opens `fileName` (a name the dynamic loader searches for, or a path) afresh; nullptr and the
// reason in `error` when that fails. Never closed. LoadMpvLibrary keeps the first success.
const MpvLibrary* OpenMpvLibrary(const QString& fileName, QString* error);

}  // namespace velmora::app
