#include <gtest/gtest.h>
#include <openvr_driver.h>
TEST(Abi, Placeholder) {
  SUCCEED();
}
