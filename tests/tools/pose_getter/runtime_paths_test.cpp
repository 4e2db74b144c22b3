// Reading the runtime's path registry as the host's loader does.
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/common/scoped_env.h"
#include "tests/common/temp_folder.h"
#include "tools/pose_getter/client_library.h"
#include "tools/pose_getter/runtime_paths.h"

TEST(RuntimePaths, TheFirstRuntimeIsTakenWhereverTheListStands) {
  EXPECT_EQ(FirstRuntimePath(R"({"runtime":["/opt/vr","/old/vr"]})"), "/opt/vr");
  // Other members before it, of every kind, are stepped over.
  EXPECT_EQ(FirstRuntimePath(R"({ "config" : [ "/c" ], "external_drivers" : null, "jsonid" : "vrpathreg",
                                  "nested" : { "runtime" : [ "/not/this" ], "n" : [1, -2.5e3, true, false] },
                                  "runtime" : [ "C:\\Program Files\\VR" ], "version" : 1 })"),
            "C:\\Program Files\\VR");
  // Escapes, including a character outside the basic plane.
  EXPECT_EQ(FirstRuntimePath(R"({"runtime":["\/h\u00e9\ud83d\ude00\"q\""]})"), "/h\xc3\xa9\xf0\x9f\x98\x80\"q\"");
}

TEST(RuntimePaths, NoUsableRuntimeGivesNothing) {
  for (const char *text : {"", "[]", "{}", R"({"runtime":[]})", R"({"runtime":"/opt/vr"})", R"({"config":["/c"]})",
                           R"({"runtime":["/opt/vr)", R"({"runtime":[1]})", R"({"runtime":["\ud800"]})",
                           R"({"x":{"y":)", "{\"runtime\":[\"a\nb\"]}"})
    EXPECT_EQ(FirstRuntimePath(text), "") << text;
  // Deep nesting is refused, not followed down the stack.
  EXPECT_EQ(FirstRuntimePath("{\"x\":" + std::string(100000, '[')), "");
}

TEST(RuntimePaths, AMissingRegistryIsToldApartFromOneThatCannotBeParsedOrListsNone) {
  ScopedEnv noOverride("VR_OVERRIDE", nullptr);
  const RuntimeLookup missing = FindRuntimeFolder("/nonexistent/openvr/openvrpaths.vrpath");
  EXPECT_EQ(missing.folder, "");
  EXPECT_NE(missing.problem.find("no path registry at /nonexistent"), std::string::npos) << missing.problem;
  EXPECT_EQ(FindRuntimeFolder("").folder, "");

  TempFolder dir{"vk5-vrpath"};
  const std::string file = (dir.path() / "openvrpaths.vrpath").string();
  auto lookup = [&](const std::string &text) {
    std::ofstream(file, std::ios::binary) << text;
    return FindRuntimeFolder(file);
  };
  const RuntimeLookup broken = lookup(R"({"runtime":["/opt/vr")");
  EXPECT_EQ(broken.folder, "");
  EXPECT_NE(broken.problem.find("cannot parse"), std::string::npos) << broken.problem;
  const RuntimeLookup none = lookup(R"({"runtime":[]})");
  EXPECT_NE(none.problem.find("lists no runtime"), std::string::npos) << none.problem;
  // Written by an editor that starts the file with a byte-order mark.
  EXPECT_EQ(lookup("\xEF\xBB\xBF{\"runtime\":[\"/opt/vr\"]}").folder, "/opt/vr");
  EXPECT_EQ(lookup("\xEF\xBB\xBF{\"runtime\":[\"/opt/vr\"]}").problem, "");
}

TEST(RuntimePaths, TheRegistryOverrideIsHonouredAsByTheHostsOwnTools) {
  {
    ScopedEnv override("VR_PATHREG_OVERRIDE", "custom.vrpath");
    EXPECT_EQ(VrPathRegistryFile(), "custom.vrpath");
  }
  ScopedEnv noOverride("VR_PATHREG_OVERRIDE", nullptr);
  EXPECT_NE(VrPathRegistryFile(), "custom.vrpath");
}

TEST(RuntimePaths, TheClientLibraryLiesWhereTheLoaderLooks) {
  const std::string path = ClientLibraryPath("R");
  EXPECT_TRUE(path == "R/bin/linux64/vrclient.so" || path == "R\\bin\\vrclient_x64.dll") << path;
  const std::string registry = VrPathRegistryFile();
  if (!registry.empty()) {
    EXPECT_NE(registry.find("openvrpaths.vrpath"), std::string::npos);
  }
}

TEST(ClientLibrary, LoadsFromAFolderWithANonAsciiNameAndGivesTheLoadersReasonWhenItCannot) {
  TempFolder dir{"vk5-client"};
  // A user or install folder named with a letter outside ASCII (u with diaeresis).
  const std::u8string base = dir.path().u8string();
  const std::string folder = std::string(base.begin(), base.end()) + "/J\xC3\xBCrgen";
  std::filesystem::create_directories(PathFromUtf8(folder));
  const std::string library = folder + "/vrclient.library";
  std::filesystem::copy_file(VK5_FAKE_VRCLIENT_PATH, PathFromUtf8(library));
  std::string why;
  LibraryHandle handle = LoadClientLibrary(library, why);
  EXPECT_NE(handle, nullptr) << why;
  EXPECT_NE(FindLibrarySymbol(handle, "VRClientCoreFactory"), nullptr);
  UnloadClientLibrary(handle);

  why.clear();
  EXPECT_EQ(LoadClientLibrary(folder + "/missing.library", why), nullptr);
  EXPECT_FALSE(why.empty()) << "the loader's own reason is passed on";
}

#ifdef _WIN32
TEST(RuntimePaths, WithoutTheOverrideTheRegistryIsInTheLocalApplicationDataFolder) {
  ScopedEnv noOverride("VR_PATHREG_OVERRIDE", nullptr);
  // Under Wine this is the prefix's C:\users\<user>\AppData\Local.
  const std::string local = EnvironmentUtf8("LOCALAPPDATA");
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(std::filesystem::weakly_canonical(PathFromUtf8(VrPathRegistryFile())),
            std::filesystem::weakly_canonical(PathFromUtf8(local + "\\openvr\\openvrpaths.vrpath")));
}
#endif
