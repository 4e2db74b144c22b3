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

// Each runs its source until the sink says stop. Nothing in their loops
// allocates once the source is up.
void RunDemo(PoseSink &sink);
// Our own datagram (kPoseDatagramSize) or opentrack's, per config.source.
void RunUdp(const GetterConfig &config, PoseSink &sink);
// `registryFile` empty: the runtime's path registry where this platform keeps it.
void RunOpenVr(const GetterConfig &config, PoseSink &sink, const std::string &registryFile = {});

void RunSource(const GetterConfig &config, PoseSink &sink);
