#pragma once

#include <string>
#include <string_view>

// The helper program that writes poses into the exchange lies beside the module.
#ifdef _WIN32
inline constexpr const char *kPoseGetterFileName = "pose_getter.exe";
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr const char *kPoseGetterFileName = "pose_getter";
inline constexpr char kPathSeparator = '/';
#endif

// The directory of the module's own file, without a trailing separator; empty
// (after logging) when the module cannot be identified.
std::string ModuleDirectory();

// Starts the helper `fileName` from the module directory. A helper recorded by
// an earlier start is stopped first, so it is neither orphaned nor leaked.
void StartPoseGetter(const std::string &fileName);
// Terminates the recorded helper and releases it; logs the outcome.
void StopPoseGetter();

// The text before the last slash or backslash; a path with neither is returned whole.
std::string DirectoryOfPath(std::string_view path);
std::string JoinPath(std::string_view directory, std::string_view fileName, char separator);
