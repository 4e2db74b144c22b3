#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "pose/exchange_lock.h"
#include "pose/pose_exchange.h"
#include "tests/common/second_view.h"

#ifndef _WIN32
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tools/host/dev_host.h"
#endif

namespace {
using Clock = std::chrono::steady_clock;

PoseRecord Marked(float mark) {
  PoseRecord r{};
  for (auto &row : r.m)
    for (float &v : row) v = mark;
  r.velocity[0] = mark;
  r.result = vr::TrackingResult_Running_OK;
  r.poseIsValid = 1;
  r.deviceIsConnected = 1;
  return r;
}

class Exchange : public ::testing::Test {
protected:
  void TearDown() override { ClosePoseExchange(); }
};
} // namespace

TEST_F(Exchange, NothingIsReadWhileClosed) {
  PoseRecord r;
  vr::DriverPose_t p;
  EXPECT_EQ(ReadPoseRecord(r), PoseRead::NoBlock);
  EXPECT_EQ(ReadPose(p), PoseRead::NoBlock);
  OpenPoseExchange();
  EXPECT_EQ(ReadPose(p), PoseRead::Read);
  ClosePoseExchange();
  EXPECT_EQ(ReadPose(p), PoseRead::NoBlock);
  ClosePoseExchange(); // a second close finds nothing to release
}

TEST_F(Exchange, OpeningDiscardsWhatAnEarlierHelperLeft) {
  SecondView helper;
  std::memset(&helper.block(), 0xAB, sizeof(PoseExchangeBlock));
  OpenPoseExchange();
  EXPECT_EQ(helper.block().lock, 0);
  const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&helper.block());
  for (std::size_t i = 0; i < sizeof(PoseExchangeBlock); ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;

  vr::DriverPose_t p;
  ASSERT_EQ(ReadPose(p), PoseRead::Read);
  EXPECT_FALSE(p.poseIsValid);
  EXPECT_FALSE(p.deviceIsConnected);
  EXPECT_EQ(static_cast<int>(p.result), 0);
}

TEST_F(Exchange, ASecondActivationZeroesTheBlockAgain) {
  OpenPoseExchange();
  SecondView helper;
  helper.block().pose = Marked(7.0f);
  PoseRecord r;
  ASSERT_EQ(ReadPoseRecord(r), PoseRead::Read);
  EXPECT_EQ(r.m[1][1], 7.0f);

  OpenPoseExchange();
  ASSERT_EQ(ReadPoseRecord(r), PoseRead::Read);
  EXPECT_EQ(r.m[1][1], 0.0f);
  EXPECT_EQ(r.poseIsValid, 0);
}

TEST_F(Exchange, TheWritersRecordIsReadWhole) {
  OpenPoseExchange();
  SecondView helper;
  helper.block().pose = Marked(3.5f);
  vr::DriverPose_t p;
  ASSERT_EQ(ReadPose(p), PoseRead::Read);
  EXPECT_TRUE(p.poseIsValid);
  EXPECT_EQ(p.vecVelocity[0], 3.5);
  EXPECT_EQ(p.vecPosition[0], 3.5 + 3.5 * 0.25);
}

// Frames that meet the writer's lock get no pose; the first that gets one
// reads the whole record the writer left, never half of it. A reader that
// ignored the lock fails here rather than leaving the test waiting.
TEST_F(Exchange, ReaderNeverSeesARecordWhileItIsBeingWritten) {
  OpenPoseExchange();
  SecondView helper;
  ASSERT_TRUE(TryLockExchange(helper.block()));
  helper.block().pose = Marked(1.0f);
  std::atomic<bool> released{false}, done{false};
  std::atomic<int> framesWithoutPose{0};
  PoseRecord r{};
  std::thread frames([&] {
    while (ReadPoseRecord(r) != PoseRead::Read) {
      EXPECT_FALSE(released.load() && framesWithoutPose.load() > 1000) << "the released lock is taken";
      framesWithoutPose.fetch_add(1);
    }
    done = true;
  });
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (framesWithoutPose.load() < 2 && !done.load() && Clock::now() < deadline) std::this_thread::yield();
  const bool readUnderTheWritersLock = done.load();
  if (!readUnderTheWritersLock && framesWithoutPose.load() < 2) {
    UnlockExchange(helper.block()); // lets the reader finish so the test can end
    frames.join();
    FAIL() << "no frame met the held lock within 10 s";
  }
  if (readUnderTheWritersLock) {
    frames.join();
    FAIL() << "a frame read the record while the writer held the lock";
  }
  helper.block().pose = Marked(9.0f);
  released = true;
  UnlockExchange(helper.block());
  frames.join();
  EXPECT_EQ(r.m[0][0], 9.0f);
  EXPECT_EQ(r.m[2][3], 9.0f);
  EXPECT_EQ(helper.block().lock, 0);
}

TEST_F(Exchange, AStuckLockCostsTheReaderABoundedWaitAndNoPose) {
  OpenPoseExchange();
  SecondView helper;
  ASSERT_TRUE(TryLockExchange(helper.block()));
  for (int i = 0; i < 20; ++i) {
    PoseRecord r;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(ReadPoseRecord(r), PoseRead::Locked);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
  }
  // The reader never released a lock it did not take.
  EXPECT_EQ(helper.block().lock, 1);
  UnlockExchange(helper.block());
  PoseRecord r;
  EXPECT_EQ(ReadPoseRecord(r), PoseRead::Read);
}

TEST_F(Exchange, ClosingWhileFramesReadLeavesNoReaderOnUnmappedMemory) {
  std::atomic<bool> stop{false};
  std::thread frames([&] {
    vr::DriverPose_t p;
    while (!stop.load()) ReadPose(p);
  });
  for (int i = 0; i < 200; ++i) {
    OpenPoseExchange();
    ClosePoseExchange();
  }
  stop.store(true);
  frames.join();
}

#ifndef _WIN32
TEST_F(Exchange, TheNamedBlockIsOwnerOnlyAndOneKilobyte) {
  OpenPoseExchange();
  struct stat st {};
  ASSERT_EQ(stat((std::string("/dev/shm/") + kPoseExchangeName).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_GE(st.st_size, static_cast<off_t>(kPoseExchangeSize));
}

// A block someone else made, or made readable to others, is not used: the
// exchange stays closed as after a failed mapping. One of ours that was cut
// short is grown back rather than left to fault the frame thread.
TEST_F(Exchange, OnlyAPrivateBlockOfOurOwnIsUsed) {
  const std::string path = std::string("/dev/shm/") + kPoseExchangeName;
  devhost::DevHost host;
  vr::VRDriverContext() = &host;
  struct Case {
    const char *what;
    mode_t mode;
    bool otherOwner;
    bool used;
  } cases[] = {
      {"readable by the group", 0640, false, false},
      {"writable by others", 0606, false, false},
      {"another user's", 0600, true, false},
      {"our own", 0600, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.otherOwner && geteuid() != 0) {
      std::printf("skipped: giving a block to another user needs root\n");
      continue;
    }
    ClosePoseExchange();
    ::unlink(path.c_str());
    {
      SecondView made; // the block as another process left it: cut short, with its own mode and owner
      ASSERT_EQ(::truncate(path.c_str(), 16), 0);
      ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
      if (c.otherOwner) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
      }
    }
    host.ClearEvents();
    OpenPoseExchange();
    PoseRecord r;
    if (c.used) {
      EXPECT_EQ(ReadPoseRecord(r), PoseRead::Read);
      struct stat st {};
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      EXPECT_GE(st.st_size, static_cast<off_t>(kPoseExchangeSize));
      EXPECT_TRUE(host.LogLines().empty());
    } else {
      EXPECT_EQ(ReadPoseRecord(r), PoseRead::NoBlock);
      EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Failed to map view of file."});
    }
  }
  ClosePoseExchange();
  ::unlink(path.c_str());
  vr::CleanupDriverContext();
}
#endif
