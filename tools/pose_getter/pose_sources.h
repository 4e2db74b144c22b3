#pragma once

#include <cstdint>
#include <string>

#include "pose/pose_exchange.h"
#include "tools/pose_getter/getter_config.h"

// Where a source's records go: the shared block, or the probe's report.
class PoseSink {
public:
  virtual ~PoseSink() = default;
  virtual void Write(const PoseRecord &record) = 0;
  // Malformed datagrams dropped so far by a UDP source.
  virtual void NoteDropped(uint64_t total) { (void)total; }
  // Asked between passes; a source stops once it answers false.
  virtual bool KeepRunning() = 0;
};

// Each runs its source until the sink says stop, and hands the sink the
// pistol's pose in tracking space: the velocity of the pistol's origin and the
// angular velocity both in tracking space. Nothing in their loops allocates
// once the source is up. RunOpenVr also stops when the host quits.
void RunDemo(PoseSink &sink);
// Our own datagram (kPoseDatagramSize) or opentrack's, per config.source.
void RunUdp(const GetterConfig &config, PoseSink &sink);
// `registryFile` empty: the runtime's path registry where this platform keeps it.
void RunOpenVr(const GetterConfig &config, PoseSink &sink, const std::string &registryFile = {});

// The configured source, its poses handed to the sink as the records the
// module turns into them (RecordForHost).
void RunSource(const GetterConfig &config, PoseSink &sink);
