#include "ble/input_latches.h"

InputLatches inputLatches;
