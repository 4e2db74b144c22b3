#include "support/host_log.h"

#include <atomic>

#include <openvr_driver.h>

namespace {
// Atomic on both sides: a platform thread may log while the host's thread
// forgets the context in Cleanup.
std::atomic_ref<vr::IVRDriverContext *> HostContext() {
  return std::atomic_ref<vr::IVRDriverContext *>(vr::VRDriverContext());
}
} // namespace

void LogLine(const char *line) {
  if (!HostContext().load()) return;
  if (vr::IVRDriverLog *log = vr::VRDriverLog()) log->Log(line);
}

void ForgetHostContext() {
  // Only the context: a line already past the test above still finds the
  // cached log interface, and the next Init clears the cache anyway.
  HostContext().store(nullptr);
}
