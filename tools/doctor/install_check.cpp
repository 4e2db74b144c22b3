#include "tools/doctor/install_check.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include <nlohmann/json.hpp>

#include "pose/exchange_lock.h"
#include "pose/pose_exchange.h"
#include "pose/shared_mapping.h"
#include "tools/doctor/registry_file.h"
#include "tools/pose_getter/getter_log.h"
#include "tools/pose_getter/mount_config_edit.h"
#include "tools/pose_getter/pose_summary.h"
#include "tools/pose_getter/whole_file.h"

namespace doctor {

namespace fs = std::filesystem;

std::vector<Check> CheckDriverFolder(const fs::path &folder) {
  std::vector<Check> checks;
  const fs::path manifest = folder / "driver.vrdrivermanifest";
  std::ifstream in(manifest);
  const nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
  const bool named = j.is_object() && j.value("name", "") == "vantorelle_k5";
  checks.push_back({"driver.vrdrivermanifest", named,
                    named ? "names the driver vantorelle_k5" : "missing, unreadable or not naming vantorelle_k5"});
  if (folder.filename() != "vantorelle_k5")
    checks.push_back({"folder name", false, "the host needs the folder to be called vantorelle_k5"});
#ifdef _WIN32
  const fs::path bin = folder / "bin" / "win64";
  const char *module = "driver_vantorelle_k5.dll";
  const char *helper = "pose_getter.exe";
#else
  const fs::path bin = folder / "bin" / "linux64";
  const char *module = "driver_vantorelle_k5.so";
  const char *helper = "pose_getter";
#endif
  std::error_code ec;
  checks.push_back({module, fs::is_regular_file(bin / module, ec), Utf8(bin / module)});
  const bool helperThere = fs::is_regular_file(bin / helper, ec);
  checks.push_back(
      {helper, helperThere, helperThere ? "beside the driver library" : "missing: the pistol would have no pose"});
  const fs::path profile = folder / "resources" / "input" / "vantorelle_k5_controller_profile.json";
  checks.push_back({"input profile", fs::is_regular_file(profile, ec), Utf8(profile)});
  const fs::path config = bin / "pose_getter.cfg";
  if (fs::is_regular_file(config, ec)) {
    checks.push_back({"pose_getter.cfg", true, "present: " + Utf8(config)});
    checks.push_back(CheckMountCalibration(config));
  }
  return checks;
}

Check CheckMountCalibration(const fs::path &config) {
  // Not calibrated is no fault: a mount measured by hand is as good.
  if (const std::optional<std::string> note = CalibrationNote(ReadWholeFile(config).value_or("")))
    return {"mount", true, "calibrated " + *note};
  return {"mount", true, "not calibrated (offsets by hand or none); pose_getter --calibrate measures them"};
}

fs::path PoseGetterLogFile(const fs::path &folder) {
#ifdef _WIN32
  return folder / "bin" / "win64" / kGetterLogFileName;
#else
  return folder / "bin" / "linux64" / kGetterLogFileName;
#endif
}

std::vector<std::string> PoseGetterLogLines(const fs::path &folder, std::size_t count) {
  return LastLogLines(PoseGetterLogFile(folder), count);
}

std::vector<Check> CheckPoseBlock() {
  const MappingHandle mapping = OpenExistingNamedMapping(kPoseExchangeName);
  if (mapping == kNoMapping)
    return {{"pose block", false, "not there: the driver is not active (the host is not running it)"}};
  auto *block = static_cast<PoseExchangeBlock *>(MapNamedView(mapping, kPoseExchangeSize));
  if (!block) {
    CloseNamedMapping(mapping);
    return {{"pose block", false, "there, but it cannot be mapped"}};
  }
  // Half a second of looks 1 ms apart: a helper that writes changes the
  // record, and the changes seen give its rate (at most the looks' rate).
  auto look = [&](PoseRecord &record) { CopyRecordOut(*block, record, std::chrono::milliseconds(100)); };
  PoseRecord first{}, latest{};
  look(first);
  latest = first;
  int changes = 0;
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    PoseRecord now = latest;
    look(now);
    if (std::memcmp(&now, &latest, sizeof now) != 0) ++changes, latest = now;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  UnmapNamedView(block, kPoseExchangeSize);
  CloseNamedMapping(mapping);

  const bool writing = changes > 0;
  const bool valid = latest.poseIsValid != 0;
  char figures[256];
  FormatPoseSummary(latest, figures, sizeof figures);
  char rate[64];
  std::snprintf(rate, sizeof rate, "the pose changes, about %.0f times a second", changes / seconds);
  return {{"pose block", true, "there (the driver made it; it stays after the driver stops)"},
          {"pose helper writing", writing, writing ? rate : "no change in 500 ms"},
          {"pose valid", valid,
           valid ? "valid and " + std::string(latest.deviceIsConnected ? "connected" : "not connected")
                 : "the helper says it has no pose (check its source; pose_getter --probe shows it)"},
          {"pose now", valid, figures}};
}

} // namespace doctor
