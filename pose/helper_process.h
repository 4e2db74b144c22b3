#pragma once

#include <string>

// The driver's control of the pose helper, the program that writes poses into
// the exchange; it lies beside the module.

// "pose_getter" or "pose_getter.exe".
extern const char *const kPoseGetterFileName;

// Starts the helper `fileName` from the module directory. A helper recorded by
// an earlier start is stopped first, so it is neither orphaned nor leaked.
void StartPoseGetter(const std::string &fileName);
// Terminates the recorded helper and releases it; logs the outcome.
void StopPoseGetter();

// What start and stop need from the platform; each platform implements these
// in its own folder and keeps the started process's record.

// Starts `path` without a window, without arguments beyond its own path, with
// the host's environment and working directory, and records the process.
// The record is cleared first, so a failed start leaves it empty.
bool SpawnPoseGetter(const std::string &path);
bool PoseGetterRecorded();
// Terminates the recorded process (exit code 0 where the platform has one),
// releases what the record holds and clears it, whether or not that worked.
bool TerminatePoseGetter();
