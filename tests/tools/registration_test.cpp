// Registering the driver folder in the host's path registry: only our entry
// changes, refusals leave the file alone, the file is found where the host's
// tools look for it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/common/scoped_env.h"
#include "tests/common/temp_folder.h"
#include "tools/doctor/path_registry.h"
#include "tools/doctor/registration.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using doctor::RegistryChange;
using json = nlohmann::json;

// As the host's own writer lays the file out: tabs, a blank before each colon.
const std::string kHostWritten = "{\n"
                                 "\t\"config\" : \n\t[\n\t\t\"/home/u/vr-runtime/config\"\n\t],\n"
                                 "\t\"external_drivers\" : \n\t[\n\t\t\"/opt/tracker/driver\",\n"
                                 "\t\t\"/opt/gloves\"\n\t],\n"
                                 "\t\"jsonid\" : \"vrpathreg\",\n"
                                 "\t\"log\" : \n\t[\n\t\t\"/home/u/vr-runtime/logs\"\n\t],\n"
                                 "\t\"runtime\" : \n\t[\n\t\t\"/home/u/vr-runtime\"\n\t],\n"
                                 "\t\"version\" : 1\n"
                                 "}\n";

#ifdef _WIN32
const fs::path kOurs = "C:\\VR\\drivers\\vantorelle_k5";
const std::string kOursJson = "\"C:\\\\VR\\\\drivers\\\\vantorelle_k5\"";
#else
const fs::path kOurs = "/home/u/vr-drivers/vantorelle_k5";
const std::string kOursJson = "\"/home/u/vr-drivers/vantorelle_k5\"";
#endif

std::string U8(const fs::path &p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

std::string Entries(const std::string &text) {
  return json::parse(text).at("external_drivers").dump();
}

TEST(RegistryText, AddingChangesOnlyTheDriverListByOneEntry) {
  const doctor::RegistryText added = doctor::AddExternalDriver(kHostWritten, kOurs);
  ASSERT_TRUE(added.error.empty()) << added.error;
  EXPECT_TRUE(added.changed);
  std::string expected = kHostWritten;
  const std::string after = "\"/opt/gloves\"";
  expected.insert(expected.find(after) + after.size(), ",\n\t\t" + kOursJson);
  EXPECT_EQ(added.text, expected);

  // Again: nothing to do. Then removing it gives back the original bytes.
  const doctor::RegistryText twice = doctor::AddExternalDriver(added.text, kOurs);
  EXPECT_FALSE(twice.changed);
  EXPECT_EQ(twice.text, added.text);
  const doctor::RegistryText removed = doctor::RemoveExternalDriver(added.text, kOurs);
  EXPECT_TRUE(removed.changed);
  EXPECT_EQ(removed.text, kHostWritten);
  EXPECT_FALSE(doctor::RemoveExternalDriver(kHostWritten, kOurs).changed);
}

TEST(RegistryText, AddsToAMissingOrEmptyListAndKeepsEveryOtherKey) {
  for (const std::string &text : {std::string("{\"jsonid\":\"vrpathreg\",\"version\":1,\"x\":{\"y\":[1,2]}}"),
                                  std::string("{\n  \"external_drivers\": [],\n  \"version\": 1\n}"),
                                  std::string("{\n  \"external_drivers\": [ ],\n  \"version\": 1\n}"),
                                  std::string("\xEF\xBB\xBF{ }"), std::string("{}")}) {
    const doctor::RegistryText added = doctor::AddExternalDriver(text, kOurs);
    ASSERT_TRUE(added.error.empty()) << text;
    json before = json::parse(text);
    json after = json::parse(added.text);
    EXPECT_EQ(after.at("external_drivers"), json::array({U8(kOurs)})) << added.text;
    after.erase("external_drivers");
    before.erase("external_drivers");
    EXPECT_EQ(after, before) << added.text;

    const doctor::RegistryText removed = doctor::RemoveExternalDriver(added.text, kOurs);
    EXPECT_EQ(json::parse(removed.text).at("external_drivers"), json::array()) << removed.text;
  }
}

TEST(RegistryText, KeepsTheFilesLineEnds) {
  for (const std::string &text : {std::string("{\r\n\t\"external_drivers\" : \r\n\t[\r\n\t\t\"/a\"\r\n\t]\r\n}\r\n"),
                                  std::string("{\r\n\t\"version\" : 1\r\n}\r\n")}) {
    const std::string added = doctor::AddExternalDriver(text, kOurs).text;
    for (size_t at = added.find('\n'); at != std::string::npos; at = added.find('\n', at + 1))
      ASSERT_TRUE(at > 0 && added[at - 1] == '\r') << added;
  }
}

TEST(RegistryText, RemovesEveryCopyWhereverItStandsAndKeepsTheRest) {
  const std::string ours = kOursJson;
  for (const auto &[text, remaining] : std::initializer_list<std::pair<std::string, std::string>>{
           {"{\"external_drivers\":[" + ours + ",\"/a\",\"/b\"]}", R"(["/a","/b"])"},
           {"{\"external_drivers\":[\"/a\"," + ours + ",\"/b\"]}", R"(["/a","/b"])"},
           {"{\"external_drivers\":[\"/a\",\"/b\"," + ours + "]}", R"(["/a","/b"])"},
           {"{\"external_drivers\":[" + ours + "," + ours + ",\"/a\"," + ours + "]}", R"(["/a"])"},
           {"{\"external_drivers\":[" + ours + "," + ours + "]}", "[]"}}) {
    const doctor::RegistryText removed = doctor::RemoveExternalDriver(text, kOurs);
    ASSERT_TRUE(removed.changed) << text;
    EXPECT_EQ(Entries(removed.text), remaining) << removed.text;
  }
}

TEST(RegistryText, TheSameFolderSpelledOtherwiseIsAlreadyRegistered) {
  const fs::path spellings[] = {kOurs / "", kOurs / "." / "", kOurs.parent_path() / "x" / ".." / "vantorelle_k5"};
  for (const fs::path &spelling : spellings) {
    const std::string text = "{\"external_drivers\":[" + json(U8(spelling)).dump() + "]}";
    EXPECT_FALSE(doctor::AddExternalDriver(text, kOurs).changed) << text;
    EXPECT_EQ(Entries(doctor::RemoveExternalDriver(text, kOurs).text), "[]") << text;
  }
}

TEST(RegistryText, AnotherFolderOfOurNameIsPointedOut) {
  const std::string text = R"({"external_drivers":["/old/place/vantorelle_k5/","/opt/gloves"]})";
  const doctor::RegistryText added = doctor::AddExternalDriver(text, kOurs);
  EXPECT_TRUE(added.changed);
  EXPECT_EQ(added.others, std::vector<std::string>{"/old/place/vantorelle_k5/"});
}

TEST(RegistryText, RefusesWhatIsNotAPathRegistry) {
  for (const std::string &text :
       {std::string(""), std::string("{\"external_drivers\": [\"/a\",]}"), std::string("[\"/a\"]"),
        std::string("{\"jsonid\":\"vrsettings\"}"), std::string("{\"external_drivers\":\"/a\"}"),
        std::string("{\"external_drivers\":[1]}"), std::string("{\"external_drivers\":null}")}) {
    for (const doctor::RegistryText &edit :
         {doctor::AddExternalDriver(text, kOurs), doctor::RemoveExternalDriver(text, kOurs)}) {
      EXPECT_FALSE(edit.error.empty()) << text;
      EXPECT_FALSE(edit.changed) << text;
      EXPECT_EQ(edit.text, text);
    }
  }
}

// A registry file in a temporary folder of its own.
class RegistryFile : public ::testing::Test {
protected:
  void TearDown() override {
    // A case that made the file read-only leaves it removable again.
    std::error_code ec;
    fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write, ec);
  }
  void Write(const std::string &text) { std::ofstream(file_, std::ios::binary) << text; }
  static std::string Read(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  size_t FilesInDir() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()));
  }

  TempFolder dir_{"vk5-registry"};
  fs::path file_ = dir_.path() / "openvrpaths.vrpath";
};

TEST_F(RegistryFile, RegisterKeepsABackupAndLeavesNothingHalfWritten) {
  Write(kHostWritten);
  const doctor::RegistryOutcome first = doctor::RegisterDriverFolder(file_, kOurs);
  EXPECT_EQ(first.change, RegistryChange::Added) << first.message;
  EXPECT_EQ(Read(file_), doctor::AddExternalDriver(kHostWritten, kOurs).text);
  EXPECT_EQ(Read(doctor::BackupPath(file_)), kHostWritten);
  EXPECT_EQ(FilesInDir(), 2u) << "only the registry and its backup";

  const std::string registered = Read(file_);
  EXPECT_EQ(doctor::RegisterDriverFolder(file_, kOurs).change, RegistryChange::AlreadyThere);
  EXPECT_EQ(Read(file_), registered);
  EXPECT_EQ(Read(doctor::BackupPath(file_)), kHostWritten) << "an edit that changes nothing writes no backup";

  EXPECT_EQ(doctor::UnregisterDriverFolder(file_, kOurs).change, RegistryChange::Removed);
  EXPECT_EQ(Read(file_), kHostWritten);
  EXPECT_EQ(Read(doctor::BackupPath(file_)), registered);
  EXPECT_EQ(doctor::UnregisterDriverFolder(file_, kOurs).change, RegistryChange::WasNotThere);
}

TEST_F(RegistryFile, AMissingFileIsRefusedAndNotCreated) {
  for (bool add : {true, false}) {
    const doctor::RegistryOutcome outcome =
        add ? doctor::RegisterDriverFolder(file_, kOurs) : doctor::UnregisterDriverFolder(file_, kOurs);
    EXPECT_EQ(outcome.change, RegistryChange::Refused);
    EXPECT_NE(outcome.message.find("start the host once"), std::string::npos) << outcome.message;
    EXPECT_EQ(FilesInDir(), 0u);
  }
}

TEST_F(RegistryFile, AMalformedFileIsRefusedAndLeftAsItWas) {
  const std::string broken = "{\n\t\"external_drivers\" : [ \"/opt/gloves\", ]\n}\n";
  Write(broken);
  const doctor::RegistryOutcome outcome = doctor::RegisterDriverFolder(file_, kOurs);
  EXPECT_EQ(outcome.change, RegistryChange::Refused);
  EXPECT_NE(outcome.message.find("not valid JSON"), std::string::npos) << outcome.message;
  EXPECT_EQ(Read(file_), broken);
  EXPECT_EQ(FilesInDir(), 1u) << "no backup, no new file";
}

TEST_F(RegistryFile, AReadOnlyFileIsRefusedAndLeftAsItWas) {
  Write(kHostWritten);
  fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const doctor::RegistryOutcome outcome = doctor::RegisterDriverFolder(file_, kOurs);
  EXPECT_EQ(outcome.change, RegistryChange::Refused);
  EXPECT_NE(outcome.message.find("read-only"), std::string::npos) << outcome.message;
  EXPECT_EQ(Read(file_), kHostWritten);
  EXPECT_EQ(FilesInDir(), 1u);
  // Already registered is still an answer, not a refusal.
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(doctor::RegisterDriverFolder(file_, kOurs).change, RegistryChange::Added);
  fs::permissions(file_, fs::perms::owner_read);
  EXPECT_EQ(doctor::RegisterDriverFolder(file_, kOurs).change, RegistryChange::AlreadyThere);
}

TEST_F(RegistryFile, AFolderInPlaceOfTheFileIsRefused) {
  fs::create_directory(file_);
  EXPECT_EQ(doctor::RegisterDriverFolder(file_, kOurs).change, RegistryChange::Refused);
  EXPECT_TRUE(fs::is_directory(file_));
}

TEST(RegistryLocation, FoundWhereTheHostsToolsLook) {
  std::string why;
  {
    ScopedEnv override("VR_PATHREG_OVERRIDE", "custom.vrpath");
    EXPECT_EQ(doctor::PathRegistryFile(why), fs::path("custom.vrpath"));
  }
  ScopedEnv noOverride("VR_PATHREG_OVERRIDE", nullptr);
#ifdef _WIN32
  // Under Wine this is the prefix's C:\users\<user>\AppData\Local.
  char local[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableA("LOCALAPPDATA", local, MAX_PATH), 0u);
  EXPECT_TRUE(doctor::SameFolder(doctor::PathRegistryFile(why), fs::path(local) / "openvr" / "openvrpaths.vrpath"))
      << doctor::PathRegistryFile(why);
#else
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/x/config");
    EXPECT_EQ(doctor::PathRegistryFile(why), fs::path("/x/config/openvr/openvrpaths.vrpath"));
  }
  ScopedEnv home("HOME", "/home/u");
  for (const char *unset : {static_cast<const char *>(nullptr), ""}) {
    ScopedEnv config("XDG_CONFIG_HOME", unset);
    EXPECT_EQ(doctor::PathRegistryFile(why), fs::path("/home/u/.config/openvr/openvrpaths.vrpath"));
  }
#endif
}

} // namespace
