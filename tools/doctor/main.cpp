// vk5-doctor: runs the driver's own link worker and decoder outside the VR
// host against this machine's Bluetooth, prints the driver's lines live with
// what they mean, checks the installed driver folder and the pose block, and
// ends with a verdict.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "ble/link_worker.h"
#include "tools/doctor/diagnosis.h"
#include "tools/doctor/install_check.h"
#include "tools/doctor/registration.h"
#include "tools/host/dev_host.h"

using namespace std::chrono_literals;

namespace {

void PrintChecks(const std::vector<doctor::Check> &checks, bool &allOk) {
  for (const doctor::Check &c : checks) {
    std::printf("  [%s] %-22s %s\n", c.ok ? " ok " : "FAIL", c.what.c_str(), c.detail.c_str());
    allOk = allOk && c.ok;
  }
}

} // namespace

int main(int argc, char **argv) {
  CLI::App app{"Diagnoses the pistol driver: its installation, the pose block and the Bluetooth link"};
  std::string folder;
  double seconds = 20;
  double listen = 5;
  bool skipInstall = false;
  app.add_option("--driver-folder", folder,
                 "Installed driver folder to check (the one holding driver.vrdrivermanifest)");
  app.add_flag("--no-install-check", skipInstall, "Check only the Bluetooth link");
  app.add_option("--seconds", seconds, "Longest time to look for the pistol")->check(CLI::PositiveNumber);
  app.add_option("--listen", listen, "Once subscribed, how long to show the pistol's packets")
      ->check(CLI::NonNegativeNumber);
  bool registerFolder = false;
  bool unregisterFolder = false;
  CLI::Option *registerOption =
      app.add_flag("--register", registerFolder,
                   "Add the driver folder to the host's driver list (close the host first), then check it");
  app.add_flag("--unregister", unregisterFolder, "Remove the driver folder from the host's driver list")
      ->excludes(registerOption);
  CLI11_PARSE(app, argc, argv);
  if (registerFolder || unregisterFolder) return doctor::RunRegistration(registerFolder, folder);

  bool installOk = true;
  if (!skipInstall) {
    if (folder.empty()) folder = doctor::DriverFolderOfProgram().string();
    if (folder.empty()) {
      std::printf("installation: no driver folder given (--driver-folder), not checked\n");
    } else {
      std::printf("installation: %s\n", folder.c_str());
      PrintChecks(doctor::CheckDriverFolder(folder), installOk);
      const std::vector<std::string> helperLines = doctor::PoseGetterLogLines(folder, 10);
      std::printf("pose helper log: %s\n", doctor::PoseGetterLogFile(folder).string().c_str());
      if (helperLines.empty()) std::printf("  (nothing yet: the helper has not run from this folder)\n");
      for (const std::string &line : helperLines) std::printf("  %s\n", line.c_str());
    }
    std::printf("pose block:\n");
    bool poseOk = true;
    PrintChecks(doctor::CheckPoseBlock(), poseOk);
  }

  std::printf("bluetooth link: running the driver's link worker (up to %.0f s)\n", seconds);
  std::fflush(stdout);
  devhost::DevHost host;
  std::mutex printing;
  doctor::Diagnosis diagnosis;
  std::atomic<double> lastPrinted{0};
  std::atomic<bool> subscribed{false};
  std::atomic<double> subscribedAt{0};
  host.SetListener([&](const devhost::Event &e) {
    if (e.kind != devhost::Event::Kind::Log) return;
    std::lock_guard lock(printing);
    std::printf("[%7.3f] driver: %s\n", e.seconds, e.text.c_str());
    if (auto note = diagnosis.Observe(e.text)) std::printf("[%7.3f]   -> %s\n", e.seconds, note->c_str());
    if (diagnosis.verdict() == doctor::Verdict::Subscribed && !subscribed.exchange(true)) subscribedAt = e.seconds;
    lastPrinted = e.seconds;
    std::fflush(stdout);
  });
  vr::VRDriverContext() = &host;

  linkRunning = true;
  std::thread worker(LinkWorker);
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  for (;;) {
    std::this_thread::sleep_for(100ms);
    const double t = host.Now();
    {
      std::lock_guard lock(printing);
      if (diagnosis.Settled()) break;
      if (subscribed && t - subscribedAt >= listen) break;
      if (!subscribed && elapsed() >= seconds) break;
      // A person waiting sees what is going on, not a silent pause.
      if (t - lastPrinted >= 2.0) {
        std::printf("[%7.3f]   ... %s (%d device%s heard)\n", t, diagnosis.phase().c_str(), diagnosis.devicesHeard(),
                    diagnosis.devicesHeard() == 1 ? "" : "s");
        std::fflush(stdout);
        lastPrinted = t;
      }
    }
  }
  linkRunning = false;
  worker.join();
  host.SetListener(nullptr);
  vr::CleanupDriverContext();

  const doctor::Verdict verdict = diagnosis.verdict();
  std::printf("verdict: %s", doctor::VerdictText(verdict));
  if (verdict == doctor::Verdict::Subscribed) std::printf(" (%d packets received)", diagnosis.packets());
  std::printf("\n");
  if (!installOk) std::printf("installation: problems found above\n");
  return verdict == doctor::Verdict::Subscribed && installOk ? 0 : 1;
}
