#include "tools/pose_getter/getter_log.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>

namespace fs = std::filesystem;

namespace {
// The helper logs from one thread; the lock keeps a bench or test that runs a
// source on a thread of its own safe.
std::mutex mutex;
std::ofstream file;
fs::path filePath;
std::uintmax_t limit = kGetterLogLimitBytes;
std::uintmax_t written = 0;

fs::path OlderFile(const fs::path &f) {
  fs::path older = f;
  older += ".1";
  return older;
}

void StartFresh() {
  file.close();
  std::error_code ec;
  fs::remove(OlderFile(filePath), ec);
  fs::rename(filePath, OlderFile(filePath), ec);
  file.open(filePath, std::ios::binary | std::ios::trunc);
  written = 0;
}
} // namespace

void OpenGetterLog(const fs::path &path, std::uintmax_t limitBytes) {
  std::lock_guard lock(mutex);
  file.close();
  filePath = path;
  limit = limitBytes;
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  written = ec ? 0 : size;
  file.open(path, std::ios::binary | std::ios::app);
}

void CloseGetterLog() {
  std::lock_guard lock(mutex);
  file.close();
  filePath.clear();
}

void GetterLog(const char *format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);

  std::lock_guard lock(mutex);
  std::fprintf(stderr, "pose_getter: %s\n", message);
  if (filePath.empty()) return;
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char line[600];
  const int n = std::snprintf(line, sizeof line, "%04d-%02u-%02u %02d:%02d:%02d %s\n", static_cast<int>(date.year()),
                              static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                              static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                              static_cast<int>(time.seconds().count()), message);
  const std::size_t size = std::min(static_cast<std::size_t>(n > 0 ? n : 0), sizeof line - 1);
  if (written + size > limit || !file.is_open()) StartFresh();
  if (!file.is_open()) return; // not writable: standard error has it
  file.write(line, static_cast<std::streamsize>(size));
  file.flush();
  written += size;
}

std::vector<std::string> LastLogLines(const fs::path &path, std::size_t count) {
  std::deque<std::string> lines;
  for (const fs::path &f : {OlderFile(path), path}) {
    std::ifstream in(f, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      if (lines.size() > count) lines.pop_front();
    }
  }
  return {lines.begin(), lines.end()};
}
