#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ble/adapter.h"

struct InputLatches;

enum class PistolButton { None, Fire, EjectMag, LoadMag };

// One notification is one packet; only the three exact packets mean a button.
PistolButton DecodeNotification(std::span<const std::uint8_t> value);

// "Received data: " then each byte in decimal followed by a blank, then "END".
std::string ReceivedDataLine(std::span<const std::uint8_t> value);

// Sets the button's latch (if any), then logs the bytes.
void HandleNotification(std::span<const std::uint8_t> value, InputLatches &latches);

// The characteristic's ValueChanged handler.
void OnCharacteristicValueChanged(ble::GattCharacteristic &sender, ble::GattValueChangedEventArgs &args);
