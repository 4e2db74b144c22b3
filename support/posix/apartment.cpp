#include "support/apartment.h"

// No apartments here: any thread may call the Bluetooth backend.
void JoinMultithreadedApartment() {}
