// Stands in for pose_getter.exe in the black-box tests: writes one known pose
// into the exchange block, under the block's lock, until it is terminated.
#include <windows.h>

#include <atomic>
#include <cstring>

#include <openvr_driver.h>

#include "tests/blackbox/fake_pose.h"

int main() {
  // Opens the driver's block, or creates it if the driver has not yet.
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kExchangeSize, kExchangeName);
  if (!mapping) return 2;
  auto *block = static_cast<unsigned char *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kExchangeSize));
  if (!block) return 3;
  // Owned for as long as this process lives: the tests see it vanish when the driver stops us.
  if (!CreateMutexA(nullptr, TRUE, kFakeHelperAliveName)) return 4;

  const vr::TrackedDevicePose_t pose = FakeHelperPose();
  std::atomic_ref<unsigned char> lock(block[0]);
  // Bounded, so that a helper the driver failed to stop fails its test
  // without holding up the rest of the run.
  const ULONGLONG end = GetTickCount64() + kFakeHelperLifetimeMs;
  while (GetTickCount64() < end) {
    while (lock.exchange(1) != 0) Sleep(1);
    std::memcpy(block + 4, &pose, sizeof pose);
    lock.store(0, std::memory_order_release);
    Sleep(5);
  }
  return 0;
}
