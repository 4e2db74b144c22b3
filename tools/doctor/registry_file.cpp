#include "tools/doctor/registry_file.h"

#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace doctor {

namespace fs = std::filesystem;

std::string Utf8(const fs::path &p) {
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}

fs::path FromUtf8(const std::string &s) {
  return fs::path(std::u8string(s.begin(), s.end()));
}

fs::path RegistryTarget(const fs::path &registry) {
  std::error_code ec;
  if (!fs::is_symlink(registry, ec)) return registry;
  // A dangling link stays as it is: reading it then reports the missing file.
  const fs::path target = fs::canonical(registry, ec);
  return ec ? registry : target;
}

std::optional<std::string> ReadRegistryFile(const fs::path &file, std::string &why) {
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    why = Utf8(file) + " does not exist. The host writes it the first time it starts: start the host once, close it, "
                       "then run this again.";
    return std::nullopt;
  }
  if (!fs::is_regular_file(file, ec)) {
    why = Utf8(file) + " is not a file.";
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) {
    why = Utf8(file) + " cannot be opened for reading.";
    return std::nullopt;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    why = Utf8(file) + " cannot be read.";
    return std::nullopt;
  }
  return text;
}

bool ReadOnly(const fs::path &file) {
  std::error_code ec;
  const fs::perms p = fs::status(file, ec).permissions();
  return !ec && (p & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none;
}

bool WriteLike(const fs::path &file, const std::string &text, const fs::path &like, std::string &why) {
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (out.fail()) {
      why = Utf8(file) + " cannot be written";
      return false;
    }
  }
#ifdef _WIN32
  // The new file takes its folder's inherited permissions, as the host's own file does.
  (void)like;
  return true;
#else
  struct stat old {};
  if (::stat(like.c_str(), &old) != 0) {
    why = Utf8(like) + " cannot be examined (" + std::error_code(errno, std::generic_category()).message() + ")";
    return false;
  }
  // Owner first: changing it may clear mode bits.
  if (::chown(file.c_str(), old.st_uid, old.st_gid) != 0) {
    why = "the new file cannot be given the owner of " + Utf8(like) + " (" +
          std::error_code(errno, std::generic_category()).message() + "); run this as that user";
    return false;
  }
  if (::chmod(file.c_str(), old.st_mode & 07777) != 0) {
    why = "the new file cannot be given the mode of " + Utf8(like) + " (" +
          std::error_code(errno, std::generic_category()).message() + ")";
    return false;
  }
  return true;
#endif
}

bool ReplaceInOneStep(const fs::path &from, const fs::path &to, std::string &why) {
#ifdef _WIN32
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  why = "error " + std::to_string(GetLastError());
  return false;
#else
  std::error_code ec;
  fs::rename(from, to, ec);
  why = ec.message();
  return !ec;
#endif
}

} // namespace doctor
