#pragma once

// A small text file read or written whole, bytes as they are.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Nothing when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path &file);
// False when it cannot be written completely.
bool WriteWholeFile(const std::filesystem::path &file, std::string_view text);
