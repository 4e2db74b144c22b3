#pragma once

// Owning handles over the sd-bus C objects, so that every early return and
// every error path releases them. Nothing else: calls stay plain sd-bus.

#include <string>
#include <utility>

#include <systemd/sd-bus.h>

namespace sdbus {

class Bus {
public:
  Bus() = default;
  explicit Bus(sd_bus *bus) noexcept : bus_(bus) {}
  ~Bus() { reset(); }
  Bus(Bus &&other) noexcept : bus_(std::exchange(other.bus_, nullptr)) {}
  Bus &operator=(Bus &&other) noexcept {
    if (this != &other) {
      reset();
      bus_ = std::exchange(other.bus_, nullptr);
    }
    return *this;
  }
  Bus(const Bus &) = delete;
  Bus &operator=(const Bus &) = delete;

  sd_bus *get() const noexcept { return bus_; }
  explicit operator bool() const noexcept { return bus_ != nullptr; }
  // Queued messages (a last Disconnect, say) still go out before the close.
  void reset() noexcept {
    if (bus_) sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
  }

  // A bus client on the given address, or the system bus when it is empty
  // (which honours DBUS_SYSTEM_BUS_ADDRESS). Gives a negative errno on failure.
  static int Open(const std::string &address, Bus &out) {
    sd_bus *bus = nullptr;
    int r = 0;
    if (address.empty()) {
      r = sd_bus_open_system(&bus);
    } else {
      r = sd_bus_new(&bus);
      if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
      if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
      if (r >= 0) r = sd_bus_start(bus);
    }
    if (r < 0) {
      if (bus) sd_bus_close_unref(bus);
      return r;
    }
    out = Bus(bus);
    return 0;
  }

private:
  sd_bus *bus_ = nullptr;
};

class Message {
public:
  Message() = default;
  // Takes over a reference the caller already holds.
  explicit Message(sd_bus_message *message) noexcept : message_(message) {}
  static Message Ref(sd_bus_message *message) noexcept { return Message(sd_bus_message_ref(message)); }
  ~Message() { sd_bus_message_unref(message_); }
  Message(Message &&other) noexcept : message_(std::exchange(other.message_, nullptr)) {}
  Message &operator=(Message &&other) noexcept {
    if (this != &other) {
      sd_bus_message_unref(message_);
      message_ = std::exchange(other.message_, nullptr);
    }
    return *this;
  }
  Message(const Message &) = delete;
  Message &operator=(const Message &) = delete;

  sd_bus_message *get() const noexcept { return message_; }
  sd_bus_message **out() noexcept {
    message_ = sd_bus_message_unref(message_);
    return &message_;
  }
  explicit operator bool() const noexcept { return message_ != nullptr; }

private:
  sd_bus_message *message_ = nullptr;
};

// Dropping a slot ends what it stands for: a pending call's reply is then
// ignored, a match stops matching.
class Slot {
public:
  Slot() = default;
  ~Slot() { sd_bus_slot_unref(slot_); }
  Slot(Slot &&other) noexcept : slot_(std::exchange(other.slot_, nullptr)) {}
  Slot &operator=(Slot &&other) noexcept {
    if (this != &other) {
      sd_bus_slot_unref(slot_);
      slot_ = std::exchange(other.slot_, nullptr);
    }
    return *this;
  }
  Slot(const Slot &) = delete;
  Slot &operator=(const Slot &) = delete;

  sd_bus_slot **out() noexcept {
    slot_ = sd_bus_slot_unref(slot_);
    return &slot_;
  }
  explicit operator bool() const noexcept { return slot_ != nullptr; }

private:
  sd_bus_slot *slot_ = nullptr;
};

class Error {
public:
  Error() = default;
  ~Error() { sd_bus_error_free(&error_); }
  Error(const Error &) = delete;
  Error &operator=(const Error &) = delete;

  sd_bus_error *get() noexcept { return &error_; }
  bool isSet() const noexcept { return sd_bus_error_is_set(&error_) > 0; }
  std::string name() const { return error_.name ? error_.name : ""; }
  std::string message() const { return error_.message ? error_.message : ""; }

private:
  // All zero is SD_BUS_ERROR_NULL, whose compound literal is not C++.
  sd_bus_error error_{};
};

} // namespace sdbus
