#pragma once

#include <gtest/gtest.h>

#include "pose/exchange_lock.h"
#include "pose/pose_exchange.h"
#include "pose/shared_mapping.h"

// The exchange block as the helper process sees it: its own mapping of the name.
class SecondView {
public:
  SecondView() {
    mapping_ = CreateNamedMapping(kPoseExchangeName, kPoseExchangeSize);
    if (mapping_ != kNoMapping) view_ = MapNamedView(mapping_, kPoseExchangeSize);
    EXPECT_NE(view_, nullptr);
  }
  ~SecondView() {
    if (view_) UnmapNamedView(view_, kPoseExchangeSize);
    if (mapping_ != kNoMapping) CloseNamedMapping(mapping_);
  }
  SecondView(const SecondView &) = delete;
  SecondView &operator=(const SecondView &) = delete;

  PoseExchangeBlock &block() { return *static_cast<PoseExchangeBlock *>(view_); }

private:
  MappingHandle mapping_ = kNoMapping;
  void *view_ = nullptr;
};
