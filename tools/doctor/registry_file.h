#pragma once

// The path registry as a file: read, checked and replaced whole, so that the
// host never sees half a file and can still rewrite it afterwards.
#include <filesystem>
#include <optional>
#include <string>

namespace doctor {

// The file a registry path names: the path itself, or where its symbolic links
// lead, so that an edit replaces the file and leaves the link a link.
std::filesystem::path RegistryTarget(const std::filesystem::path &registry);

// The whole file; nullopt with `why` (one sentence for the user) when it is
// missing, not a file or unreadable.
std::optional<std::string> ReadRegistryFile(const std::filesystem::path &file, std::string &why);

bool ReadOnly(const std::filesystem::path &file);

// Writes `text` to `file` (created or emptied) and gives it the owner and mode
// of `like`: a doctor run with sudo must leave files the user's host can
// still rewrite. False with `why` on failure; `file` may then exist in part.
bool WriteLike(const std::filesystem::path &file, const std::string &text, const std::filesystem::path &like,
               std::string &why);

// Replaces `to` with `from` in one step, so a reader sees the old file or the new one.
bool ReplaceInOneStep(const std::filesystem::path &from, const std::filesystem::path &to, std::string &why);

// A path as UTF-8 for messages and the registry, whatever the system's code page.
std::string Utf8(const std::filesystem::path &p);
std::filesystem::path FromUtf8(const std::string &s);

} // namespace doctor
