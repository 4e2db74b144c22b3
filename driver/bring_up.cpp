#include "driver/bring_up.h"

#include <thread>

#include "ble/link_worker.h"
#include "driver/controller_driver.h"
#include "pose/helper_process.h"
#include "pose/pose_exchange.h"

void BringUp(ControllerDriver &controller) {
  // The link worker starts first, so a failure to create its thread leaves
  // nothing else set up. A second activation keeps the worker that runs:
  // overwriting a joinable thread would end the host.
  if (!controller.linkThread.joinable()) {
    // Set again so a device deactivated earlier gets a working link.
    linkRunning.store(true);
    controller.linkThread = std::thread(LinkWorker);
  }

  // An earlier activation's helper goes before the block is zeroed, so it
  // cannot write into the block the new one starts from.
  if (PoseGetterRecorded()) StopPoseGetter();
  // The exchange exists before the helper starts, so the helper opens the
  // block the driver has just zeroed.
  OpenPoseExchange();
  StartPoseGetter(kPoseGetterFileName);
}

void TakeDown(ControllerDriver &controller) {
  linkRunning.store(false);
  if (controller.linkThread.joinable()) controller.linkThread.join();

  ClosePoseExchange();
  StopPoseGetter();
}
