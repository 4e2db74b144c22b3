#pragma once

// The test-only exports of the fake client library, beside the runtime's own
// factory: the test process reaches them through the same loaded library the
// follower uses, so both see one fake runtime.
#include <cstdint>

#include <openvr_driver.h>

struct FakeVrCounters {
  int factoryCalls;
  int inits;
  int cleanups;
  int poseCalls;
  int eventPolls;
  int quitAcks;
};

using FakeVrResetFn = void (*)();
// While false, Init answers as a runtime whose server is not running.
using FakeVrSetServerRunningFn = void (*)(bool running);
using FakeVrSetDeviceFn = void (*)(uint32_t index, int deviceClass, int role, const char *serial);
using FakeVrRemoveDeviceFn = void (*)(uint32_t index);
using FakeVrSetPoseFn = void (*)(uint32_t index, const vr::TrackedDevicePose_t *pose);
// The next event poll hands out the host's quit event.
using FakeVrQueueQuitFn = void (*)();
using FakeVrCountersFn = FakeVrCounters (*)();
// The universe and pose count asked for by the last pose call.
using FakeVrLastPoseRequestFn = void (*)(int *origin, uint32_t *count);
