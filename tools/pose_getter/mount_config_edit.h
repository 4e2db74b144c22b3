#pragma once

// Writing a measured mount into pose_getter.cfg: only the two offset lines
// and the calibration note change; every other line stays byte for byte.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "tools/pose_getter/pose_math.h"

// The note's first words; what follows is when and how well, for vk5-doctor.
inline constexpr std::string_view kCalibrationNotePrefix = "# mount calibrated by pose_getter --calibrate: ";

// `text` with the offset lines in effect replaced (a comment after the value
// kept), those missing appended, and the note line replaced or put above the
// first offset line. Line ends follow the file's.
std::string WithCalibratedMount(std::string_view text, const MountOffset &mount, std::string_view note);

// What the last calibration note says after its prefix; nothing without one.
std::optional<std::string> CalibrationNote(std::string_view text);

// Rewrites the file: the old one is kept as ConfigBackupPath first, the new
// one replaces it in one step. Empty on success, else why it was left alone.
std::string WriteCalibratedMount(const std::filesystem::path &config, const MountOffset &mount, std::string_view note);
std::filesystem::path ConfigBackupPath(const std::filesystem::path &config);
