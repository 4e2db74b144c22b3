#include "driver/input_latches.h"

InputLatches inputLatches;
