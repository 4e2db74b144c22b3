#include "driver/bring_up.h"

#include <thread>

#include "ble/link_worker.h"
#include "driver/controller_driver.h"

void BringUp(ControllerDriver &controller) {
  // A second activation keeps the worker that runs; overwriting a joinable
  // thread would end the host.
  if (!controller.linkThread.joinable()) {
    // Set again so a device deactivated earlier gets a working link.
    linkRunning.store(true);
    controller.linkThread = std::thread(LinkWorker);
  }
}

void TakeDown(ControllerDriver &controller) {
  linkRunning.store(false);
  if (controller.linkThread.joinable()) controller.linkThread.join();
}
