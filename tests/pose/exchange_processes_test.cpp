// The lock protocol across two real processes: a writer program fills the
// block while this process reads it, and every record read must be whole.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "pose/pose_exchange.h"
#include "tests/common/second_view.h"

extern char **environ;

namespace {
// A record is whole when every number belongs to the same write.
bool Whole(const PoseRecord &r) {
  const auto k = static_cast<float>(r.result % 4096);
  for (int i = 0; i < 12; ++i)
    if (r.m[i / 4][i % 4] != k + static_cast<float>(i) / 16.0f) return false;
  for (int i = 0; i < 3; ++i) {
    if (r.velocity[i] != k + static_cast<float>(12 + i) / 16.0f) return false;
    if (r.angularVelocity[i] != k + static_cast<float>(15 + i) / 16.0f) return false;
  }
  return r.poseIsValid == (r.result & 1) && r.deviceIsConnected == ((r.result >> 1) & 1);
}
} // namespace

TEST(ExchangeAcrossProcesses, EveryRecordReadWhileAnotherProcessWritesIsWhole) {
  OpenPoseExchange();
  SecondView view; // to tell the writer when to stop
  std::atomic_ref<uint8_t> stop(reinterpret_cast<uint8_t *>(&view.block())[512]);
  stop.store(0);
  const std::string path = VK5_EXCHANGE_WRITER;
  char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
  pid_t writer = 0;
  ASSERT_EQ(posix_spawn(&writer, path.c_str(), nullptr, nullptr, argv, environ), 0);

  long reads = 0, torn = 0, distinct = 0;
  int32_t last = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((reads < 100000 || distinct < 2000) && std::chrono::steady_clock::now() < deadline) {
    PoseRecord r;
    if (ReadPoseRecord(r) != PoseRead::Read) continue;
    ++reads;
    if (r.result == 0) continue; // the zeroed block, before the first write
    if (!Whole(r)) ++torn;
    if (r.result != last) ++distinct;
    EXPECT_GE(r.result, last) << "records go back in time";
    last = r.result;
  }
  stop.store(1);
  int status = 0;
  while (waitpid(writer, &status, 0) < 0 && errno == EINTR) {
  }
  ClosePoseExchange();

  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_GE(distinct, 2000) << "the reads hardly overlapped the writes";
}
