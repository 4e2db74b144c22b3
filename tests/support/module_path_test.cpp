#include <gtest/gtest.h>

#include "support/module_path.h"

namespace {
std::string HelperPath(std::string_view moduleFile, char separator) {
  return JoinPath(DirectoryOfPath(moduleFile), "pose_getter.exe", separator);
}
} // namespace

TEST(HelperPath, TheHelperLiesBesideTheModule) {
  EXPECT_EQ(HelperPath(R"(D:\vr\driver\bin\win64\driver_vantorelle_k5.dll)", '\\'),
            R"(D:\vr\driver\bin\win64\pose_getter.exe)");
  EXPECT_EQ(JoinPath(DirectoryOfPath("/opt/vr/bin/linux64/driver_vantorelle_k5.so"), "pose_getter", '/'),
            "/opt/vr/bin/linux64/pose_getter");
}

TEST(HelperPath, ForwardSlashesEndTheDirectoryButTheJoinKeepsThePlatformSeparator) {
  EXPECT_EQ(DirectoryOfPath("E:/vr/bin/driver_vantorelle_k5.dll"), "E:/vr/bin");
  EXPECT_EQ(HelperPath("E:/vr/bin/driver_vantorelle_k5.dll", '\\'), R"(E:/vr/bin\pose_getter.exe)");
}

TEST(HelperPath, TheLastSeparatorOfEitherKindEndsTheDirectory) {
  EXPECT_EQ(DirectoryOfPath(R"(C:\vr/bin\win64/driver.dll)"), R"(C:\vr/bin\win64)");
  EXPECT_EQ(DirectoryOfPath(R"(C:/vr\bin/win64\driver.dll)"), R"(C:/vr\bin/win64)");
  EXPECT_EQ(DirectoryOfPath("/driver.so"), "");
}

TEST(HelperPath, APathWithoutSeparatorIsKeptWholeAndAnEmptyDirectoryLeadsToTheRoot) {
  EXPECT_EQ(DirectoryOfPath("driver.dll"), "driver.dll");
  EXPECT_EQ(JoinPath(DirectoryOfPath(""), "pose_getter.exe", '\\'), R"(\pose_getter.exe)");
}
