#include "driver/bring_up.h"

#include "driver/controller_driver.h"

void BringUp(ControllerDriver &) {}

void TakeDown(ControllerDriver &) {}
