#pragma once

#include <string>
#include <string_view>

// Where this code was loaded from: the driver finds its helper, and the helper
// its configuration, beside its own file, never in the working directory.

// The platform's path separator ('/' or '\\').
extern const char kPathSeparator;

// The full path of the file this code was loaded from; false when it cannot be told.
bool ModuleFilePath(std::string &out);

// The directory of the module's own file, without a trailing separator; empty
// (after logging) when the module cannot be identified.
std::string ModuleDirectory();

// The text before the last slash or backslash; a path with neither is returned whole.
std::string DirectoryOfPath(std::string_view path);
std::string JoinPath(std::string_view directory, std::string_view fileName, char separator);
