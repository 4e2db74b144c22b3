#pragma once

// sd-bus is loaded when the link first opens a bus, not linked: distributions
// without systemd ship it in libelogind instead, and a module that named
// libsystemd as needed would not load there at all, poses included. The
// sd_bus_* functions the backend calls are defined by this folder's
// sdbus_library.cpp and go to whichever library was found.

namespace sdbus {

// The library names tried, in order.
inline constexpr const char *kLibraryNames[] = {"libsystemd.so.0", "libelogind.so.0"};

// The line logged, once per module load, when neither library can be loaded.
inline constexpr const char *kMissingLibraryLine =
    "Bluetooth needs libsystemd.so.0 or libelogind.so.0 (sd-bus) and neither can be loaded: the pistol's buttons "
    "stay off, its pose still works. Install libsystemd0 or libelogind0.";

// Loads sd-bus on first use; later calls give the first answer. Thread-safe;
// never call it from a host thread (it may search the disk).
bool Load();

} // namespace sdbus
