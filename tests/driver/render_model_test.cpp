// The pistol's render model as the host's loader reads it: an OBJ whose faces
// index what exists, each part a closed shell facing outwards, the size of a
// pistol, drawn in the frame of the pose the driver reports (origin in the
// grip, muzzle along -Z, +Y up), with the texture its MTL names.
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/driver/folder_under_test.h"

namespace {

namespace fs = std::filesystem;
using Vec = std::array<double, 3>;

// The property the module writes names the model as {driver}name; the host
// finds it in the folder's resources/rendermodels/name/.
const std::string kModelName = "vantorelle_k5_pistol";

fs::path ModelFolder() {
  return FolderUnderTest() / "resources" / "rendermodels" / kModelName;
}

struct Face {
  std::array<int, 3> v{}, vt{}, vn{};
};

struct ObjFile {
  std::vector<Vec> vertices;
  size_t texcoords = 0;
  size_t normals = 0;
  std::map<std::string, std::vector<Face>> parts;
  std::string mtllib;
  std::string error;
};

ObjFile ReadObj(const fs::path &path) {
  ObjFile obj;
  std::ifstream in(path);
  if (!in) obj.error = "cannot open " + path.string();
  std::string line, part = "(none)";
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "v") {
      Vec v{};
      words >> v[0] >> v[1] >> v[2];
      obj.vertices.push_back(v);
    } else if (kind == "vt") {
      ++obj.texcoords;
    } else if (kind == "vn") {
      ++obj.normals;
    } else if (kind == "o") {
      words >> part;
    } else if (kind == "mtllib") {
      words >> obj.mtllib;
    } else if (kind == "f") {
      Face face;
      char slash = 0;
      for (size_t i = 0; i < 3; ++i) words >> face.v[i] >> slash >> face.vt[i] >> slash >> face.vn[i];
      std::string extra;
      if (!words || (words >> extra)) obj.error = "line " + std::to_string(number) + " is not a v/vt/vn triangle";
      obj.parts[part].push_back(face);
    }
    if (!words && kind != "f" && kind != "o" && !kind.empty() && kind[0] != '#')
      obj.error = "line " + std::to_string(number) + " is malformed";
  }
  return obj;
}

Vec Sub(const Vec &a, const Vec &b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec Cross(const Vec &a, const Vec &b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec &a, const Vec &b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Does the ray from `origin` along `direction` cross the triangle? (Möller–Trumbore)
bool RayHits(const Vec &origin, const Vec &direction, const Vec &a, const Vec &b, const Vec &c) {
  const Vec e1 = Sub(b, a), e2 = Sub(c, a), p = Cross(direction, e2);
  const double det = Dot(e1, p);
  if (std::fabs(det) < 1e-12) return false;
  const Vec t = Sub(origin, a);
  const double u = Dot(t, p) / det;
  const Vec q = Cross(t, e1);
  const double v = Dot(direction, q) / det;
  return u >= 0 && v >= 0 && u + v <= 1 && Dot(e2, q) / det > 0;
}

class DriverFolderRenderModel : public testing::Test {
protected:
  void SetUp() override {
    obj = ReadObj(ModelFolder() / (kModelName + ".obj"));
    ASSERT_TRUE(obj.error.empty()) << obj.error;
    ASSERT_FALSE(obj.parts.empty());
  }
  const Vec &At(int index) const { return obj.vertices.at(static_cast<size_t>(index - 1)); }
  ObjFile obj;
};

TEST_F(DriverFolderRenderModel, EveryFaceIndexesWhatTheFileDefines) {
  for (const auto &[part, faces] : obj.parts)
    for (const Face &face : faces)
      for (size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(face.v[i] >= 1 && static_cast<size_t>(face.v[i]) <= obj.vertices.size()) << part;
        EXPECT_TRUE(face.vt[i] >= 1 && static_cast<size_t>(face.vt[i]) <= obj.texcoords) << part;
        EXPECT_TRUE(face.vn[i] >= 1 && static_cast<size_t>(face.vn[i]) <= obj.normals) << part;
      }
}

// Closed: every edge of a part is walked once each way, so no hole shows the
// inside; and the enclosed volume is positive, so the faces point outwards.
TEST_F(DriverFolderRenderModel, EveryPartIsAClosedShellFacingOutwards) {
  for (const auto &[part, faces] : obj.parts) {
    std::map<std::pair<int, int>, int> directed;
    double volume = 0;
    for (const Face &f : faces) {
      for (size_t i = 0; i < 3; ++i) ++directed[{f.v[i], f.v[(i + 1) % 3]}];
      volume += Dot(At(f.v[0]), Cross(At(f.v[1]), At(f.v[2]))) / 6;
    }
    for (const auto &[edge, count] : directed) {
      EXPECT_EQ(count, 1) << part << ": edge " << edge.first << "-" << edge.second << " walked twice the same way";
      EXPECT_EQ(directed.count({edge.second, edge.first}), 1u)
          << part << ": edge " << edge.first << "-" << edge.second << " borders a hole";
    }
    EXPECT_GT(volume, 0) << part << " is inside out";
  }
}

TEST_F(DriverFolderRenderModel, IsPistolSizedWithTheMuzzleAlongMinusZ) {
  Vec low{1e9, 1e9, 1e9}, high{-1e9, -1e9, -1e9};
  for (const Vec &v : obj.vertices)
    for (size_t i = 0; i < 3; ++i) {
      low[i] = std::min(low[i], v[i]);
      high[i] = std::max(high[i], v[i]);
    }
  const double length = high[2] - low[2];
  EXPECT_GE(length, 0.15) << "metres, not millimetres";
  EXPECT_LE(length, 0.35);
  EXPECT_GT(-low[2], 2 * high[2]) << "the barrel reaches forward, along -Z, from the grip";
  EXPECT_LT(high[0] - low[0], 0.06) << "a pistol is narrow across";
  EXPECT_GT(high[1] - low[1], 0.08) << "grip and slide stand along Y";
  EXPECT_GT(high[1], 0) << "the slide is above the hand";
  EXPECT_LT(low[1], 0) << "the grip reaches below it";
}

// A ray from the origin crosses the grip's shell an odd number of times
// exactly when the origin is inside it.
TEST_F(DriverFolderRenderModel, TheOriginLiesInsideTheGrip) {
  ASSERT_TRUE(obj.parts.count("grip"));
  for (const Vec &direction : {Vec{1, 0.013, 0.007}, Vec{0.011, -1, 0.017}, Vec{0.019, 0.003, 1}}) {
    int crossings = 0;
    for (const Face &f : obj.parts.at("grip"))
      crossings += RayHits({0, 0, 0}, direction, At(f.v[0]), At(f.v[1]), At(f.v[2]));
    EXPECT_EQ(crossings % 2, 1) << "direction " << direction[0] << " " << direction[1] << " " << direction[2];
  }
}

TEST_F(DriverFolderRenderModel, TheMaterialAndItsTextureAreThere) {
  ASSERT_EQ(obj.mtllib, kModelName + ".mtl");
  std::ifstream mtl(ModelFolder() / obj.mtllib);
  ASSERT_TRUE(mtl) << "the OBJ names a material file that is missing";
  std::string line, texture;
  while (std::getline(mtl, line))
    if (line.rfind("map_Kd ", 0) == 0) texture = line.substr(7);
  ASSERT_FALSE(texture.empty()) << "no diffuse texture";
  std::ifstream png(ModelFolder() / texture, std::ios::binary);
  char signature[8] = {};
  png.read(signature, sizeof signature);
  EXPECT_EQ(std::string(signature, sizeof signature), std::string("\x89PNG\r\n\x1a\n", 8)) << texture;
}

} // namespace
