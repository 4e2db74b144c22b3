#include "ble/bluez/sdbus_library.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <mutex>
#include <type_traits>

#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include "support/host_log.h"

namespace sdbus {
namespace {

// Every sd-bus function the backend calls. A library lacking one of them is
// not used: a call that fails at run time would be worse than no Bluetooth.
#define VK5_SDBUS_FUNCTIONS(X)                                                                                         \
  X(sd_bus_add_match_async)                                                                                            \
  X(sd_bus_call_async)                                                                                                 \
  X(sd_bus_close_unref)                                                                                                \
  X(sd_bus_error_free)                                                                                                 \
  X(sd_bus_error_is_set)                                                                                               \
  X(sd_bus_flush_close_unref)                                                                                          \
  X(sd_bus_get_events)                                                                                                 \
  X(sd_bus_get_fd)                                                                                                     \
  X(sd_bus_get_timeout)                                                                                                \
  X(sd_bus_is_open)                                                                                                    \
  X(sd_bus_message_appendv)                                                                                            \
  X(sd_bus_message_enter_container)                                                                                    \
  X(sd_bus_message_exit_container)                                                                                     \
  X(sd_bus_message_get_error)                                                                                          \
  X(sd_bus_message_get_interface)                                                                                      \
  X(sd_bus_message_get_member)                                                                                         \
  X(sd_bus_message_get_path)                                                                                           \
  X(sd_bus_message_new_method_call)                                                                                    \
  X(sd_bus_message_peek_type)                                                                                          \
  X(sd_bus_message_read_array)                                                                                         \
  X(sd_bus_message_read_basic)                                                                                         \
  X(sd_bus_message_readv)                                                                                              \
  X(sd_bus_message_ref)                                                                                                \
  X(sd_bus_message_skip)                                                                                               \
  X(sd_bus_message_unref)                                                                                              \
  X(sd_bus_new)                                                                                                        \
  X(sd_bus_open_system)                                                                                                \
  X(sd_bus_process)                                                                                                    \
  X(sd_bus_set_address)                                                                                                \
  X(sd_bus_set_bus_client)                                                                                             \
  X(sd_bus_slot_unref)                                                                                                 \
  X(sd_bus_start)

struct Functions {
#define VK5_SDBUS_POINTER(name) decltype(&::name) name = nullptr;
  VK5_SDBUS_FUNCTIONS(VK5_SDBUS_POINTER)
#undef VK5_SDBUS_POINTER
};

// Filled once under the mutex, then only read: forwarders take the pointer
// without a lock.
Functions functions;
std::atomic<const Functions *> loaded{nullptr};
std::mutex loading;
bool tried = false;

bool Resolve(void *library) {
  bool complete = true;
#define VK5_SDBUS_RESOLVE(name)                                                                                        \
  functions.name = reinterpret_cast<decltype(functions.name)>(dlsym(library, #name));                                  \
  complete = complete && functions.name != nullptr;
  VK5_SDBUS_FUNCTIONS(VK5_SDBUS_RESOLVE)
#undef VK5_SDBUS_RESOLVE
  return complete;
}

const Functions *Loaded() {
  const Functions *f = loaded.load(std::memory_order_acquire);
  if (f || !Load()) return f;
  return loaded.load(std::memory_order_acquire);
}

// What a call gives when no library could be loaded; the backend never gets
// that far, since opening the bus fails first.
template <class R> R Missing() {
  if constexpr (std::is_same_v<R, int>) {
    return -ENOSYS;
  } else if constexpr (!std::is_void_v<R>) {
    return R{};
  }
}

template <class F, class... A> auto Call(F Functions::*slot, A... args) {
  using R = std::invoke_result_t<F, A...>;
  const Functions *f = Loaded();
  if (!f) return Missing<R>();
  return (f->*slot)(args...);
}

} // namespace

bool Load() {
  std::lock_guard lock(loading);
  if (tried) return loaded.load(std::memory_order_relaxed) != nullptr;
  tried = true;
  for (const char *name : kLibraryNames) {
    // The handle is kept for the life of the process, never closed: sd-bus
    // keeps state that outlives our calls (per-thread caches, a bus a late
    // reply still references), and the host may exit without Cleanup while
    // the link thread is inside the library. Unloading buys nothing, since
    // nearly every process on such a system has the library mapped already;
    // a module loaded again takes one more reference to the same library.
    void *library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library) continue;
    if (Resolve(library)) {
      loaded.store(&functions, std::memory_order_release);
      return true;
    }
    functions = Functions{};
  }
  LogLine(kMissingLibraryLine);
  return false;
}

} // namespace sdbus

// The sd-bus functions themselves, as sd-bus.h declares them (C linkage,
// hidden: the module exports nothing but its factory).
using sdbus::Call;
using sdbus::Functions;

int sd_bus_add_match_async(sd_bus *bus, sd_bus_slot **slot, const char *match, sd_bus_message_handler_t callback,
                           sd_bus_message_handler_t install_callback, void *userdata) {
  return Call(&Functions::sd_bus_add_match_async, bus, slot, match, callback, install_callback, userdata);
}
int sd_bus_call_async(sd_bus *bus, sd_bus_slot **slot, sd_bus_message *m, sd_bus_message_handler_t callback,
                      void *userdata, uint64_t usec) {
  return Call(&Functions::sd_bus_call_async, bus, slot, m, callback, userdata, usec);
}
sd_bus *sd_bus_close_unref(sd_bus *bus) {
  return Call(&Functions::sd_bus_close_unref, bus);
}
void sd_bus_error_free(sd_bus_error *e) {
  Call(&Functions::sd_bus_error_free, e);
}
int sd_bus_error_is_set(const sd_bus_error *e) {
  return Call(&Functions::sd_bus_error_is_set, e);
}
sd_bus *sd_bus_flush_close_unref(sd_bus *bus) {
  return Call(&Functions::sd_bus_flush_close_unref, bus);
}
int sd_bus_get_events(sd_bus *bus) {
  return Call(&Functions::sd_bus_get_events, bus);
}
int sd_bus_get_fd(sd_bus *bus) {
  return Call(&Functions::sd_bus_get_fd, bus);
}
int sd_bus_get_timeout(sd_bus *bus, uint64_t *timeout_usec) {
  return Call(&Functions::sd_bus_get_timeout, bus, timeout_usec);
}
int sd_bus_is_open(sd_bus *bus) {
  return Call(&Functions::sd_bus_is_open, bus);
}
int sd_bus_message_append(sd_bus_message *m, const char *types, ...) {
  va_list ap;
  va_start(ap, types);
  const int r = Call(&Functions::sd_bus_message_appendv, m, types, ap);
  va_end(ap);
  return r;
}
int sd_bus_message_appendv(sd_bus_message *m, const char *types, va_list ap) {
  return Call(&Functions::sd_bus_message_appendv, m, types, ap);
}
int sd_bus_message_enter_container(sd_bus_message *m, char type, const char *contents) {
  return Call(&Functions::sd_bus_message_enter_container, m, type, contents);
}
int sd_bus_message_exit_container(sd_bus_message *m) {
  return Call(&Functions::sd_bus_message_exit_container, m);
}
const sd_bus_error *sd_bus_message_get_error(sd_bus_message *m) {
  return Call(&Functions::sd_bus_message_get_error, m);
}
const char *sd_bus_message_get_interface(sd_bus_message *m) {
  return Call(&Functions::sd_bus_message_get_interface, m);
}
const char *sd_bus_message_get_member(sd_bus_message *m) {
  return Call(&Functions::sd_bus_message_get_member, m);
}
const char *sd_bus_message_get_path(sd_bus_message *m) {
  return Call(&Functions::sd_bus_message_get_path, m);
}
int sd_bus_message_new_method_call(sd_bus *bus, sd_bus_message **m, const char *destination, const char *path,
                                   const char *interface, const char *member) {
  return Call(&Functions::sd_bus_message_new_method_call, bus, m, destination, path, interface, member);
}
int sd_bus_message_peek_type(sd_bus_message *m, char *type, const char **contents) {
  return Call(&Functions::sd_bus_message_peek_type, m, type, contents);
}
int sd_bus_message_read_array(sd_bus_message *m, char type, const void **ptr, size_t *size) {
  return Call(&Functions::sd_bus_message_read_array, m, type, ptr, size);
}
int sd_bus_message_read_basic(sd_bus_message *m, char type, void *p) {
  return Call(&Functions::sd_bus_message_read_basic, m, type, p);
}
int sd_bus_message_read(sd_bus_message *m, const char *types, ...) {
  va_list ap;
  va_start(ap, types);
  const int r = Call(&Functions::sd_bus_message_readv, m, types, ap);
  va_end(ap);
  return r;
}
int sd_bus_message_readv(sd_bus_message *m, const char *types, va_list ap) {
  return Call(&Functions::sd_bus_message_readv, m, types, ap);
}
sd_bus_message *sd_bus_message_ref(sd_bus_message *m) {
  return Call(&Functions::sd_bus_message_ref, m);
}
int sd_bus_message_skip(sd_bus_message *m, const char *types) {
  return Call(&Functions::sd_bus_message_skip, m, types);
}
sd_bus_message *sd_bus_message_unref(sd_bus_message *m) {
  return Call(&Functions::sd_bus_message_unref, m);
}
int sd_bus_new(sd_bus **ret) {
  return Call(&Functions::sd_bus_new, ret);
}
int sd_bus_open_system(sd_bus **ret) {
  return Call(&Functions::sd_bus_open_system, ret);
}
int sd_bus_process(sd_bus *bus, sd_bus_message **r) {
  return Call(&Functions::sd_bus_process, bus, r);
}
int sd_bus_set_address(sd_bus *bus, const char *address) {
  return Call(&Functions::sd_bus_set_address, bus, address);
}
int sd_bus_set_bus_client(sd_bus *bus, int b) {
  return Call(&Functions::sd_bus_set_bus_client, bus, b);
}
sd_bus_slot *sd_bus_slot_unref(sd_bus_slot *slot) {
  return Call(&Functions::sd_bus_slot_unref, slot);
}
int sd_bus_start(sd_bus *bus) {
  return Call(&Functions::sd_bus_start, bus);
}
