#pragma once

#include <string>

// What the helper's start and stop need from the platform; each platform
// implements these in its own folder and keeps the started process's record.

// The full path of the file this code was loaded from; false when it cannot be told.
bool ModuleFilePath(std::string &out);

// Starts `path` without a window, without arguments beyond its own path, with
// the host's environment and working directory, and records the process.
// The record is cleared first, so a failed start leaves it empty.
bool SpawnPoseGetter(const std::string &path);
bool PoseGetterRecorded();
// Terminates the recorded process (exit code 0 where the platform has one),
// releases what the record holds and clears it, whether or not that worked.
bool TerminatePoseGetter();
