#pragma once

// Puts the calling thread into the platform's multithreaded apartment, where
// the runtime's Bluetooth classes may be called from it; raises on failure.
// Nothing to do off Windows.
void JoinMultithreadedApartment();
