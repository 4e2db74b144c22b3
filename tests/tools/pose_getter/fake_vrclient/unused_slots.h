#pragma once

#include "tools/pose_getter/openvr_client.h"

// The system interface with every slot the helper never calls filled by a
// method that does nothing, so a stand-in writes only the methods it means.
class SystemUnusedSlots : public vrclient::IVRSystem {
public:
  void Unused0() override {}
  void Unused1() override {}
  void Unused2() override {}
  void Unused3() override {}
  void Unused4() override {}
  void Unused5() override {}
  void Unused6() override {}
  void Unused7() override {}
  void Unused8() override {}
  void Unused9() override {}
  void Unused10() override {}
  void Unused12() override {}
  void Unused13() override {}
  void Unused14() override {}
  void Unused15() override {}
  void Unused16() override {}
  void Unused21() override {}
  void Unused22() override {}
  void Unused23() override {}
  void Unused24() override {}
  void Unused25() override {}
  void Unused26() override {}
  void Unused28() override {}
  void Unused30() override {}
  void Unused31() override {}
  void Unused32() override {}
  void Unused33() override {}
  void Unused34() override {}
  void Unused35() override {}
  void Unused36() override {}
  void Unused37() override {}
  void Unused38() override {}
  void Unused39() override {}
  void Unused40() override {}
  void Unused41() override {}
  void Unused42() override {}

protected:
  ~SystemUnusedSlots() = default;
};
