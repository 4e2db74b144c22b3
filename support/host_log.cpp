#include "support/host_log.h"

#include <openvr_driver.h>

void LogLine(const char *line) {
  if (!vr::VRDriverContext()) return;
  if (vr::IVRDriverLog *log = vr::VRDriverLog()) log->Log(line);
}
