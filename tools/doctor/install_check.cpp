#include "tools/doctor/install_check.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "pose/exchange_lock.h"
#include "pose/pose_exchange.h"
#include "pose/shared_mapping.h"

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
  checks.push_back({module, fs::is_regular_file(bin / module, ec), (bin / module).string()});
  const bool helperThere = fs::is_regular_file(bin / helper, ec);
  checks.push_back(
      {helper, helperThere, helperThere ? "beside the driver library" : "missing: the pistol would have no pose"});
  const fs::path profile = folder / "resources" / "input" / "vantorelle_k5_controller_profile.json";
  checks.push_back({"input profile", fs::is_regular_file(profile, ec), profile.string()});
  const fs::path config = bin / "pose_getter.cfg";
  if (fs::is_regular_file(config, ec)) checks.push_back({"pose_getter.cfg", true, "present: " + config.string()});
  return checks;
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
  // Two looks a little apart: a helper that writes changes the record.
  auto look = [&] {
    PoseRecord record{};
    if (LockExchangeWithin(*block, std::chrono::milliseconds(100))) {
      std::memcpy(&record, &block->pose, sizeof record);
      UnlockExchange(*block);
    }
    return record;
  };
  const PoseRecord first = look();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const PoseRecord second = look();
  UnmapNamedView(block, kPoseExchangeSize);
  CloseNamedMapping(mapping);

  const bool writing = std::memcmp(&first, &second, sizeof first) != 0;
  const bool valid = second.poseIsValid != 0;
  return {{"pose block", true, "there (the driver made it; it stays after the driver stops)"},
          {"pose helper writing", writing, writing ? "the pose changes" : "no change in 300 ms"},
          {"pose valid", valid,
           valid ? "valid and " + std::string(second.deviceIsConnected ? "connected" : "not connected")
                 : "the helper says it has no pose (check its source)"}};
}

} // namespace doctor
