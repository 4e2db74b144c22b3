#pragma once

// The host's path registry (openvrpaths.vrpath): the JSON file whose
// "external_drivers" list names the driver folders the host loads from
// outside its own installation. Edits change only our entry: every other key,
// entry, blank and byte stays as it was, because the host and its tools read
// and write the same file.
#include <filesystem>
#include <string>
#include <vector>

namespace doctor {

enum class RegistryChange {
  Added,        // the folder is now listed (the file was rewritten)
  AlreadyThere, // it was listed before; the file was not touched
  Removed,      // it is no longer listed (the file was rewritten)
  WasNotThere,  // it was not listed; the file was not touched
  Refused,      // the file was missing, unreadable, not the registry or not writable; not touched
};

struct RegistryOutcome {
  RegistryChange change;
  std::string message; // one or more lines for the user, without the trailing newline
};

// Text edits, for a file already read. `error` is set (and the text is not
// changed) when the text is not a path registry.
struct RegistryText {
  std::string text;
  std::string error;
  bool changed = false;
  std::vector<std::string> others; // other entries that are also a driver folder named like ours
};
RegistryText AddExternalDriver(const std::string &text, const std::filesystem::path &folder);
RegistryText RemoveExternalDriver(const std::string &text, const std::filesystem::path &folder);

// Whether two paths name the same folder: the same file when both exist,
// otherwise the same normalised spelling (case-blind on Windows).
bool SameFolder(const std::filesystem::path &a, const std::filesystem::path &b);

// The file edits: a backup of the old file beside it (BackupPath), then the new
// text written beside it and renamed over it, so the host never sees half a file.
RegistryOutcome RegisterDriverFolder(const std::filesystem::path &registry, const std::filesystem::path &folder);
RegistryOutcome UnregisterDriverFolder(const std::filesystem::path &registry, const std::filesystem::path &folder);
std::filesystem::path BackupPath(const std::filesystem::path &registry);

} // namespace doctor
