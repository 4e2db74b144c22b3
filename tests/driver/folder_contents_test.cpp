// Everything the host reads from the driver folder besides the module: every
// JSON file parses, every {vantorelle_k5}/ path names a file that is there,
// icons have the sizes the status window needs and the SVGs parse. The
// bindings and the render model have tests of their own.
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/driver/folder_under_test.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

const std::string kToken = "{vantorelle_k5}/";

std::string ReadAll(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

json Load(const fs::path &p) {
  const json j = json::parse(ReadAll(p), nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << p << " is not valid JSON";
  return j;
}

fs::path Resources() {
  return FolderUnderTest() / "resources";
}
fs::path Profile() {
  return Resources() / "input" / "vantorelle_k5_controller_profile.json";
}

// What the host makes of "{vantorelle_k5}/x": the folder's resources/x.
fs::path Resolve(const std::string &value) {
  return Resources() / value.substr(kToken.size());
}

void CollectStrings(const json &j, std::vector<std::string> &out) {
  if (j.is_string()) out.push_back(j.get<std::string>());
  if (j.is_structured())
    for (const json &child : j) CollectStrings(child, out);
}

std::vector<fs::path> FolderFiles(const std::set<std::string> &extensions) {
  std::vector<fs::path> files;
  for (const auto &entry : fs::recursive_directory_iterator(FolderUnderTest()))
    if (entry.is_regular_file() && extensions.count(entry.path().extension().string())) files.push_back(entry.path());
  return files;
}

struct PngSize {
  bool png = false;
  uint32_t width = 0;
  uint32_t height = 0;
};

PngSize ReadPngSize(const fs::path &p) {
  const std::string bytes = ReadAll(p);
  const std::string signature = "\x89PNG\r\n\x1a\n";
  PngSize size;
  if (bytes.size() < 24 || bytes.compare(0, 8, signature) != 0 || bytes.compare(12, 4, "IHDR") != 0) return size;
  auto be32 = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  return {true, be32(16), be32(20)};
}

// Well-formed XML as far as an SVG of ours needs: balanced, properly nested
// elements with quoted attributes. Returns the root element's attributes, or
// sets `error`.
std::map<std::string, std::string> ParseXml(const std::string &s, std::string &root, std::string &error) {
  std::vector<std::string> open;
  std::map<std::string, std::string> rootAttributes;
  size_t i = 0;
  auto fail = [&](const std::string &why) {
    error = why + " at byte " + std::to_string(i);
    return std::map<std::string, std::string>{};
  };
  auto isName = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == ':' || c == '_'; };
  while ((i = s.find('<', i)) != std::string::npos) {
    if (s.compare(i, 4, "<!--") == 0 || s.compare(i, 2, "<?") == 0) {
      const size_t end = s.find(s[i + 1] == '!' ? "-->" : "?>", i);
      if (end == std::string::npos) return fail("unterminated comment");
      i = end + 2;
      continue;
    }
    const bool closing = s[++i] == '/';
    if (closing) ++i;
    const size_t nameStart = i;
    while (i < s.size() && isName(s[i])) ++i;
    const std::string name = s.substr(nameStart, i - nameStart);
    if (name.empty()) return fail("element without a name");
    std::map<std::string, std::string> attributes;
    for (;;) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      if (i >= s.size()) return fail("unterminated tag");
      if (s[i] == '>' || s.compare(i, 2, "/>") == 0) break;
      if (closing) return fail("attributes in a closing tag");
      const size_t keyStart = i;
      while (i < s.size() && isName(s[i])) ++i;
      const std::string key = s.substr(keyStart, i - keyStart);
      if (key.empty() || s[i] != '=' || (s[i + 1] != '"' && s[i + 1] != '\'')) return fail("malformed attribute");
      const size_t valueEnd = s.find(s[i + 1], i + 2);
      if (valueEnd == std::string::npos) return fail("unterminated attribute");
      if (!attributes.emplace(key, s.substr(i + 2, valueEnd - i - 2)).second) return fail("repeated attribute");
      i = valueEnd + 1;
    }
    const bool empty = s[i] == '/';
    i += empty ? 2 : 1;
    if (closing) {
      if (open.empty() || open.back() != name) return fail("</" + name + "> closes nothing open");
      open.pop_back();
      continue;
    }
    if (open.empty()) {
      if (!root.empty()) return fail("a second root element");
      root = name;
      rootAttributes = attributes;
    }
    if (!empty) open.push_back(name);
  }
  if (!open.empty()) error = "<" + open.back() + "> is never closed";
  return rootAttributes;
}

TEST(DriverFolderFiles, EveryJsonFileParsesAndEveryDriverPathIsThere) {
  const std::vector<fs::path> files = FolderFiles({".json", ".vrdrivermanifest", ".vrresources", ".vrsettings"});
  EXPECT_GE(files.size(), 8u) << "manifest, resources, profile, localization and four binding files";
  int paths = 0;
  for (const fs::path &file : files) {
    std::vector<std::string> strings;
    CollectStrings(Load(file), strings);
    for (const std::string &value : strings) {
      if (value.empty() || value[0] != '{') continue;
      ASSERT_EQ(value.rfind(kToken, 0), 0u) << file << " names a path outside our folder: " << value;
      EXPECT_TRUE(fs::is_regular_file(Resolve(value))) << file << " names " << value << ", which is not there";
      ++paths;
    }
  }
  EXPECT_GE(paths, 12) << "eight icons, two binding UI images, the legacy binding and the remapping";
  EXPECT_FALSE(fs::exists(Resources() / "art")) << "the icons' drawings are not for the host";
}

// The status window looks the icons up by the device's model number and falls
// back to its class; the hi-DPI twin is named two ways, @2x as the
// documentation says and _2x as the host's own drivers ship it.
TEST(DriverFolderFiles, StatusIconsCoverEveryStateInBothSizesUnderBothSections) {
  const json resources = Load(Resources() / "driver.vrresources");
  EXPECT_EQ(resources.at("jsonid"), "vrresources");
  const json &sections = resources.at("statusicons");
  EXPECT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections.at("Vantorelle K5"), sections.at("Controller")) << "the fallback shows the same icons";
  std::set<std::string> states;
  for (const auto &[state, path] : sections.at("Vantorelle K5").items()) {
    states.insert(state);
    const fs::path icon = Resolve(path.get<std::string>());
    ASSERT_EQ(icon.extension(), ".png") << state;
    const PngSize small = ReadPngSize(icon);
    EXPECT_TRUE(small.png) << icon;
    EXPECT_EQ(small.width, 32u) << icon;
    EXPECT_EQ(small.height, 32u) << icon;
    for (const char *suffix : {"@2x.png", "_2x.png"}) {
      fs::path twin = icon;
      twin.replace_filename(icon.stem().string() + suffix);
      const PngSize large = ReadPngSize(twin);
      EXPECT_TRUE(large.png) << twin;
      EXPECT_EQ(large.width, 64u) << twin;
      EXPECT_EQ(large.height, 64u) << twin;
      EXPECT_EQ(ReadAll(twin), ReadAll(twin.parent_path() / (icon.stem().string() + "@2x.png"))) << twin;
    }
  }
  std::set<std::string> expected;
  for (const char *state :
       {"Off", "Searching", "SearchingAlert", "Ready", "ReadyAlert", "NotReady", "Standby", "StandbyAlert", "AlertLow"})
    expected.insert(std::string("Prop_NamedIconPathDevice") + state + "_String");
  EXPECT_EQ(states, expected);
}

TEST(DriverFolderFiles, DefaultSettingsEnableTheDriverOutsideSafeMode) {
  const json settings = Load(Resources() / "settings" / "default.vrsettings");
  EXPECT_EQ(settings.at("driver_vantorelle_k5").at("enable"), true);
  EXPECT_EQ(settings.at("driver_vantorelle_k5").at("blocked_by_safe_mode"), false);
  EXPECT_EQ(Load(Profile()).at("should_show_binding_errors"), true);
}

TEST(DriverFolderFiles, SvgsParseAndBindingPointsLieOnTheImage) {
  for (const fs::path &svg : FolderFiles({".svg"})) {
    std::string root, error;
    ParseXml(ReadAll(svg), root, error);
    EXPECT_TRUE(error.empty()) << svg << ": " << error;
    EXPECT_EQ(root, "svg") << svg;
  }
  const json profile = Load(Profile());
  for (const char *side : {"input_bindingui_left", "input_bindingui_right"}) {
    const fs::path image = Resolve(profile.at(side).at("image").get<std::string>());
    ASSERT_EQ(image.extension(), ".svg") << side;
    std::string root, error;
    const auto attributes = ParseXml(ReadAll(image), root, error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_TRUE(attributes.count("viewBox")) << image;
    std::istringstream box(attributes.at("viewBox"));
    double x0 = 0, y0 = 0, w = 0, h = 0;
    ASSERT_TRUE(box >> x0 >> y0 >> w >> h) << attributes.at("viewBox");
    for (const auto &[name, source] : profile.at("input_source").items()) {
      const json &point = source.at("binding_image_point");
      const double x = point.at(0), y = point.at(1);
      EXPECT_TRUE(x >= x0 && x <= x0 + w && y >= y0 && y <= y0 + h) << name << " points off the image";
    }
  }
}

} // namespace
