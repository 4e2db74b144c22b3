#include "tools/pose_getter/whole_file.h"

#include <fstream>
#include <iterator>

std::optional<std::string> ReadWholeFile(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

bool WriteWholeFile(const std::filesystem::path &file, std::string_view text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return !out.fail();
}
