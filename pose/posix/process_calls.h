#pragma once

#include <chrono>
#include <sys/types.h>

// The system calls that stop the pose helper, replaceable so tests can make
// them fail or hang.
struct ProcessCalls {
  int (*openPidfd)(pid_t pid);           // -1 where the kernel has no pidfd
  int (*sendKill)(pid_t pid, int pidfd); // 0 or -1 with errno
  bool (*reapWithin)(pid_t pid, int pidfd, std::chrono::milliseconds limit);
};
extern ProcessCalls processCalls;

// How long a stop waits for the killed helper to end.
inline constexpr std::chrono::milliseconds kHelperStopWait{1000};
