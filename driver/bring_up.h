#pragma once

class ControllerDriver;

// What runs beside an active device: started ahead of the activation steps,
// stopped after the deactivation step.
void BringUp(ControllerDriver &controller);
void TakeDown(ControllerDriver &controller);
