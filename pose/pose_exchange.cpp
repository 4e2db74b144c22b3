#include "pose/pose_exchange.h"

void OpenPoseExchange() {}
void ClosePoseExchange() {}
bool ReadPose(vr::DriverPose_t &) {
  return false;
}
