#include "driver/bring_up.h"

#include "driver/controller_driver.h"
#include "pose/pose_exchange.h"
#include "pose/pose_getter.h"

void BringUp(ControllerDriver &) {
  // The link worker starts here, first, so a failure to create its thread
  // leaves nothing else set up.

  // The exchange exists before the helper starts, so the helper opens the
  // block the driver has just zeroed.
  OpenPoseExchange();
  StartPoseGetter(kPoseGetterFileName);
}

void TakeDown(ControllerDriver &) {
  // The link worker is told to stop and joined here, before the exchange closes.

  ClosePoseExchange();
  StopPoseGetter();
}
