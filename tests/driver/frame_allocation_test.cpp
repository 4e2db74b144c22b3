// The frame update runs on the host's frame thread every frame: it must not
// allocate. Every operator new in this program is counted.
#include <atomic>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "ble/input_latches.h"
#include "driver/controller_driver.h"
#include "pose/pose_exchange.h"
#include "tests/common/quiet_host.h"

namespace {
std::atomic<long> allocations{0};
}

void *operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void *p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
  std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
  std::free(p);
}

TEST(FrameAllocation, ThousandsOfFramesWithPressesAndPosesAllocateNothing) {
  QuietHost host;
  ControllerDriver controller;
  OpenPoseExchange();
  controller.driverInput = vr::VRDriverInput(); // as Activate leaves it
  controller.FrameUpdate();                     // the host's interfaces are fetched once, up front

  const long before = allocations.load();
  for (int frame = 0; frame < 20000; ++frame) {
    if (frame % 7 == 0) inputLatches.fire.store(true);
    if (frame % 11 == 0) inputLatches.eject_mag.store(true);
    if (frame % 13 == 0) inputLatches.load_mag.store(true);
    controller.FrameUpdate();
  }
  const long during = allocations.load() - before;
  ClosePoseExchange();
  for (int frame = 0; frame < 1000; ++frame) controller.FrameUpdate();
  const long closed = allocations.load() - before - during;

  EXPECT_EQ(during, 0);
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(host.poses, 20001u);
  EXPECT_GT(host.updates, 1000u);
}
