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
#else
#include <sys/stat.h>
#include <unistd.h>
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

// What the host's registry writer leaves on a fresh install, before any
// add-on driver: its JSON writer's layout (tabs, " : ", lists on lines of
// their own, no newline at the end) with the empty driver list as null. The
// writer opens the file in text mode, so Windows gets CRLF line ends.
const std::string kFreshInstall = "{\n"
                                  "\t\"config\" : \n\t[\n\t\t\"/home/u/vr-runtime/config\"\n\t],\n"
                                  "\t\"external_drivers\" : null,\n"
                                  "\t\"jsonid\" : \"vrpathreg\",\n"
                                  "\t\"log\" : \n\t[\n\t\t\"/home/u/vr-runtime/logs\"\n\t],\n"
                                  "\t\"runtime\" : \n\t[\n\t\t\"/home/u/vr-runtime\"\n\t],\n"
                                  "\t\"version\" : 1\n"
                                  "}";

std::string WithLineEnds(std::string text, const std::string &nl) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + nl.size()))
    text.replace(at, 1, nl);
  return text;
}

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

TEST(RegistryText, AFreshInstallsNullBecomesTheListTheHostWouldWriteAndNothingElseChanges) {
  for (const std::string &nl : {std::string("\n"), std::string("\r\n")}) {
    const std::string fresh = WithLineEnds(kFreshInstall, nl);
    const doctor::RegistryText added = doctor::AddExternalDriver(fresh, kOurs);
    ASSERT_TRUE(added.error.empty()) << added.error;
    EXPECT_TRUE(added.changed);
    std::string expected = fresh;
    expected.replace(expected.find("null"), 4, nl + "\t[" + nl + "\t\t" + kOursJson + nl + "\t]");
    EXPECT_EQ(added.text, expected);

    // Null is an empty list to remove from as well: nothing to do.
    const doctor::RegistryText removed = doctor::RemoveExternalDriver(fresh, kOurs);
    EXPECT_TRUE(removed.error.empty()) << removed.error;
    EXPECT_FALSE(removed.changed);
    EXPECT_EQ(removed.text, fresh);
  }
  // Inline, null gives an inline list.
  EXPECT_EQ(doctor::AddExternalDriver("{\"external_drivers\":null,\"version\":1}", kOurs).text,
            "{\"external_drivers\":[\n  " + kOursJson + "\n],\"version\":1}");
}

TEST(RegistryText, AnAbsentListIsAddedAfterTheLastKeyKeepingEveryByteBefore) {
  std::string without = kFreshInstall;
  without.erase(without.find("\t\"external_drivers\""), std::string("\t\"external_drivers\" : null,\n").size());
  const doctor::RegistryText added = doctor::AddExternalDriver(without, kOurs);
  ASSERT_TRUE(added.error.empty()) << added.error;
  const std::string last = "\"version\" : 1";
  std::string expected = without;
  expected.insert(expected.find(last) + last.size(), ",\n\t\"external_drivers\" : [\n\t\t" + kOursJson + "\n\t]");
  EXPECT_EQ(added.text, expected);
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
        std::string("{\"external_drivers\":[1]}"), std::string("{\"external_drivers\":false}")}) {
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

TEST_F(RegistryFile, TheFileAFreshInstallLeavesIsRegisteredAndUnregistered) {
  Write(kFreshInstall);
  const doctor::RegistryOutcome added = doctor::RegisterDriverFolder(file_, kOurs);
  ASSERT_EQ(added.change, RegistryChange::Added) << added.message;
  std::string expected = kFreshInstall;
  expected.replace(expected.find("null"), 4, "\n\t[\n\t\t" + kOursJson + "\n\t]");
  EXPECT_EQ(Read(file_), expected);
  EXPECT_EQ(Read(doctor::BackupPath(file_)), kFreshInstall);
  EXPECT_EQ(doctor::UnregisterDriverFolder(file_, kOurs).change, RegistryChange::Removed);
  EXPECT_EQ(json::parse(Read(file_)).at("external_drivers"), json::array());
}

#ifndef _WIN32
TEST_F(RegistryFile, ASymlinkedRegistryIsEditedThroughItsTargetAndStaysALink) {
  const fs::path kept = dir_.path() / "elsewhere" / "paths.json";
  fs::create_directory(kept.parent_path());
  std::ofstream(kept, std::ios::binary) << kHostWritten;
  fs::create_symlink(fs::path("elsewhere") / "paths.json", file_);

  const doctor::RegistryOutcome added = doctor::RegisterDriverFolder(file_, kOurs);
  ASSERT_EQ(added.change, RegistryChange::Added) << added.message;
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(fs::read_symlink(file_), fs::path("elsewhere") / "paths.json");
  EXPECT_EQ(Read(kept), doctor::AddExternalDriver(kHostWritten, kOurs).text);
  EXPECT_EQ(Read(doctor::BackupPath(kept)), kHostWritten) << "the backup lies beside the file it keeps";
  EXPECT_NE(added.message.find(doctor::BackupPath(kept).string()), std::string::npos) << added.message;

  EXPECT_EQ(doctor::UnregisterDriverFolder(file_, kOurs).change, RegistryChange::Removed);
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(Read(kept), kHostWritten);
}

struct stat Stat(const fs::path &p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st;
}

TEST_F(RegistryFile, TheNewFileAndTheBackupKeepTheOldOnesOwnerAndMode) {
  Write(kHostWritten);
  // Unlike what a fresh file gets under the usual umask.
  ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
  // Root (CI, or a run with sudo) can hand the file to another user, as the
  // host's user owns it while sudo runs the doctor.
  const bool root = ::geteuid() == 0;
  const uid_t owner = root ? 4321 : ::geteuid();
  const gid_t group = root ? 4322 : ::getegid();
  if (root) {
    ASSERT_EQ(::chown(file_.c_str(), owner, group), 0);
  }
  // A backup an earlier run left, owned by someone else, is replaced.
  std::ofstream(doctor::BackupPath(file_)) << "old backup";
  if (root) {
    ASSERT_EQ(::chown(doctor::BackupPath(file_).c_str(), 0, 0), 0);
  }

  ASSERT_EQ(doctor::RegisterDriverFolder(file_, kOurs).change, RegistryChange::Added);
  for (const fs::path &p : {file_, doctor::BackupPath(file_)}) {
    const struct stat st = Stat(p);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << p;
    EXPECT_EQ(st.st_uid, owner) << p;
    EXPECT_EQ(st.st_gid, group) << p;
  }
  EXPECT_EQ(Read(file_), doctor::AddExternalDriver(kHostWritten, kOurs).text);
  EXPECT_EQ(Read(doctor::BackupPath(file_)), kHostWritten);
  if (!root) GTEST_SKIP() << "the owner part needs root: only the mode was checked";
}

TEST_F(RegistryFile, AFolderNameThatIsNotUtf8IsRefusedWithAMessage) {
  Write(kFreshInstall);
  const fs::path latin1 = fs::path("/home/u/Bj\xF6rn") / "vantorelle_k5";
  const doctor::RegistryText text = doctor::AddExternalDriver(kFreshInstall, latin1);
  EXPECT_FALSE(text.error.empty());
  EXPECT_FALSE(text.changed);
  for (bool add : {true, false}) {
    const doctor::RegistryOutcome outcome =
        add ? doctor::RegisterDriverFolder(file_, latin1) : doctor::UnregisterDriverFolder(file_, latin1);
    EXPECT_EQ(outcome.change, RegistryChange::Refused);
    EXPECT_NE(outcome.message.find("not valid UTF-8"), std::string::npos) << outcome.message;
    EXPECT_EQ(Read(file_), kFreshInstall);
    EXPECT_EQ(FilesInDir(), 1u);
  }
}
#endif

#ifdef _WIN32
// A user profile and a driver folder named in Greek and Japanese: outside the
// Western code page Wine and most Windows machines run with.
const fs::path kProfileName = fs::path(u8"Ελένη 名前");
const fs::path kFolderParent = fs::path(u8"ドライバー");

TEST_F(RegistryFile, NamesOutsideTheAnsiCodePageAreReadWrittenAndListedAsUtf8) {
  ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8)) << "with a UTF-8 code page this case proves nothing";
  const fs::path registry = dir_.path() / kProfileName / "AppData" / "Local" / "openvr" / "openvrpaths.vrpath";
  fs::create_directories(registry.parent_path());
  // As the host writes it there: text mode, CRLF.
  const std::string fresh = WithLineEnds(kFreshInstall, "\r\n");
  std::ofstream(registry, std::ios::binary) << fresh;
  const fs::path folder = dir_.path() / kFolderParent / "vantorelle_k5";
  fs::create_directories(folder);

  const doctor::RegistryOutcome added = doctor::RegisterDriverFolder(registry, folder);
  ASSERT_EQ(added.change, RegistryChange::Added) << added.message;
  EXPECT_NE(added.message.find(U8(folder)), std::string::npos) << "the message names the folder in UTF-8";
  std::string expected = fresh;
  expected.replace(expected.find("null"), 4, "\r\n\t[\r\n\t\t" + json(U8(folder)).dump() + "\r\n\t]");
  EXPECT_EQ(Read(registry), expected);
  EXPECT_EQ(Read(doctor::BackupPath(registry)), fresh);
  EXPECT_EQ(doctor::RegisterDriverFolder(registry, folder).change, RegistryChange::AlreadyThere);
  EXPECT_EQ(doctor::UnregisterDriverFolder(registry, folder).change, RegistryChange::Removed);
  EXPECT_EQ(json::parse(Read(registry)).at("external_drivers"), json::array());
}

// The profile's local application data folder as the known-folder API
// reports it: moved, for this case, to a folder named outside the code page.
class LocalAppDataMoved {
public:
  explicit LocalAppDataMoved(const fs::path &to) {
    RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    wchar_t old[MAX_PATH];
    DWORD size = sizeof old;
    DWORD type = 0;
    if (RegQueryValueExW(key_, kValue, nullptr, &type, reinterpret_cast<BYTE *>(old), &size) == ERROR_SUCCESS) {
      old_ = std::wstring(old, size / sizeof(wchar_t));
      oldType_ = type;
    }
    Set(to.wstring(), REG_SZ);
  }
  ~LocalAppDataMoved() {
    if (old_) {
      Set(*old_, oldType_);
    } else {
      RegDeleteValueW(key_, kValue);
    }
    RegCloseKey(key_);
  }
  LocalAppDataMoved(const LocalAppDataMoved &) = delete;
  LocalAppDataMoved &operator=(const LocalAppDataMoved &) = delete;

private:
  void Set(const std::wstring &value, DWORD type) {
    RegSetValueExW(key_, kValue, 0, type, reinterpret_cast<const BYTE *>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  static constexpr const wchar_t *kShellFolders =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  static constexpr const wchar_t *kValue = L"Local AppData";
  HKEY key_ = nullptr;
  std::optional<std::wstring> old_;
  DWORD oldType_ = REG_EXPAND_SZ;
};

TEST(RegistryLocation, AProfileNamedOutsideTheAnsiCodePageIsFound) {
  TempFolder dir("vk5-profile");
  const fs::path local = dir.path() / kProfileName / "AppData" / "Local";
  fs::create_directories(local);
  SetEnvironmentVariableW(L"VR_PATHREG_OVERRIDE", nullptr);
  std::string why;
  {
    LocalAppDataMoved moved(local);
    const fs::path found = doctor::PathRegistryFile(why);
    EXPECT_EQ(found.wstring(), (local / "openvr" / "openvrpaths.vrpath").wstring()) << U8(found) << " " << why;
  }
}
#endif

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
