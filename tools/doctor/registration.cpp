#include "tools/doctor/registration.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "tools/doctor/install_check.h"
#include "tools/doctor/path_registry.h"
#include "tools/doctor/registry_file.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: the others build on its types.
#include <shlobj.h>
#include <tlhelp32.h>
#endif

namespace doctor {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
fs::path EnvironmentPath(const wchar_t *name) {
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  return n > 0 && n < std::size(buffer) ? fs::path(std::wstring(buffer, n)) : fs::path();
}
#else
fs::path EnvironmentPath(const char *name) {
  const char *value = std::getenv(name);
  return value && *value ? fs::path(value) : fs::path();
}
#endif

fs::path ProgramPath() {
#ifdef _WIN32
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return fs::path(buffer);
#else
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec);
#endif
}

bool IsDriverFolder(const fs::path &folder) {
  std::error_code ec;
  return !folder.empty() && fs::is_regular_file(folder / "driver.vrdrivermanifest", ec);
}

} // namespace

fs::path PathRegistryFile(std::string &why) {
#ifdef _WIN32
  if (fs::path overridden = EnvironmentPath(L"VR_PATHREG_OVERRIDE"); !overridden.empty()) return overridden;
  // The known-folder API gives the folder as UTF-16, whatever the code page:
  // a user profile named outside it stays reachable.
  constexpr GUID kLocalAppData = {0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
  fs::path local;
  PWSTR folder = nullptr;
  if (SUCCEEDED(SHGetKnownFolderPath(kLocalAppData, 0, nullptr, &folder)) && folder) local = folder;
  CoTaskMemFree(folder);
  if (local.empty()) local = EnvironmentPath(L"LOCALAPPDATA");
  if (local.empty()) {
    why = "the local application data folder (%LOCALAPPDATA%) is not known";
    return {};
  }
  return local / "openvr" / "openvrpaths.vrpath";
#else
  if (fs::path overridden = EnvironmentPath("VR_PATHREG_OVERRIDE"); !overridden.empty()) return overridden;
  if (fs::path config = EnvironmentPath("XDG_CONFIG_HOME"); !config.empty())
    return config / "openvr" / "openvrpaths.vrpath";
  if (fs::path home = EnvironmentPath("HOME"); !home.empty()) return home / ".config" / "openvr" / "openvrpaths.vrpath";
  why = "neither XDG_CONFIG_HOME nor HOME is set";
  return {};
#endif
}

bool HostRunning() {
#ifdef _WIN32
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
    found = _wcsicmp(entry.szExeFile, L"vrserver.exe") == 0;
  CloseHandle(snapshot);
  return found;
#else
  std::error_code ec;
  for (const fs::directory_entry &process : fs::directory_iterator("/proc", ec)) {
    const std::string pid = process.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(process.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name == "vrserver") return true;
  }
  return false;
#endif
}

fs::path DriverFolderOfProgram() {
  const fs::path program = ProgramPath();
  if (program.empty()) return {};
  // Installed: <folder>/bin/<platform>/vk5-doctor. Built: <build>/bin/vk5-doctor
  // beside <build>/vantorelle_k5.
  const fs::path installed = program.parent_path().parent_path().parent_path();
  if (IsDriverFolder(installed)) return installed;
  const fs::path built = program.parent_path().parent_path() / "vantorelle_k5";
  if (IsDriverFolder(built)) return built;
  return {};
}

int RunRegistration(bool add, fs::path folder) {
  if (folder.empty()) folder = DriverFolderOfProgram();
  if (folder.empty()) {
    std::printf("refused: this program is not inside a driver folder; name one with --driver-folder\n");
    return 1;
  }
  std::error_code ec;
  folder = fs::absolute(folder, ec).lexically_normal();
  if (folder.has_parent_path() && !folder.has_filename()) folder = folder.parent_path();
  // Unregistering a folder that is already deleted is fine; registering one
  // the host cannot load is not.
  if (add && !IsDriverFolder(folder)) {
    std::printf("refused: %s holds no driver.vrdrivermanifest; name the unpacked vantorelle_k5 folder\n",
                Utf8(folder).c_str());
    return 1;
  }
  std::string why;
  const fs::path registry = PathRegistryFile(why);
  if (registry.empty()) {
    std::printf("refused: the host's path registry cannot be found: %s\n", why.c_str());
    return 1;
  }
  if (HostRunning()) {
    std::printf("refused: the host is running (vrserver). Close the host first: it may write %s again while it "
                "runs or as it closes, undoing the change.\n",
                Utf8(registry).c_str());
    return 1;
  }

  const RegistryOutcome outcome =
      add ? RegisterDriverFolder(registry, folder) : UnregisterDriverFolder(registry, folder);
  std::printf("%s\n", outcome.message.c_str());
  if (outcome.change == RegistryChange::Refused) return 1;
  if (!add) return 0;

  std::printf("installation: %s\n", Utf8(folder).c_str());
  bool ok = true;
  for (const Check &c : CheckDriverFolder(folder)) {
    std::printf("  [%s] %-22s %s\n", c.ok ? " ok " : "FAIL", c.what.c_str(), c.detail.c_str());
    ok = ok && c.ok;
  }
  std::printf("verdict: %s\n", ok ? "registered; start the host" : "registered, but the folder has problems (above)");
  return ok ? 0 : 1;
}

} // namespace doctor
