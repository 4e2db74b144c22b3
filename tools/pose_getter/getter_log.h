#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What the helper has to say, for people: one line per change of state, never
// one per pose. Every line goes to standard error; once OpenGetterLog has named
// a file, to that file too, with the time in UTC. The file is bounded: a line
// that would take it past `limitBytes` first moves it to "<file>.1" (replacing
// the one before), so at most twice the limit stays on disk.
inline constexpr const char *kGetterLogFileName = "pose_getter.log";
inline constexpr std::uintmax_t kGetterLogLimitBytes = 64 * 1024;

void OpenGetterLog(const std::filesystem::path &file, std::uintmax_t limitBytes = kGetterLogLimitBytes);
void CloseGetterLog();
// printf-style; the line ends here.
void GetterLog(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The last `count` lines of a log file, older ones from "<file>.1" when the
// file itself holds fewer; empty when there is none.
std::vector<std::string> LastLogLines(const std::filesystem::path &file, std::size_t count);
