#include "tools/pose_getter/mount_config_edit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "tools/pose_getter/whole_file.h"

namespace {
namespace fs = std::filesystem;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct Line {
  std::string_view body; // without its end
  std::string_view end;  // "\n", "\r\n" or "" for a last line without one
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    if (newline == std::string_view::npos) {
      lines.push_back({text, {}});
      break;
    }
    const bool crlf = newline > 0 && text[newline - 1] == '\r';
    lines.push_back(
        {text.substr(0, crlf ? newline - 1 : newline), text.substr(crlf ? newline - 1 : newline, crlf ? 2 : 1)});
    text = text.substr(newline + 1);
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The key of a `key = value` line, or empty.
std::string_view KeyOf(std::string_view body) {
  body = body.substr(0, body.find('#'));
  const auto equals = body.find('=');
  return equals == std::string_view::npos ? std::string_view{} : Trim(body.substr(0, equals));
}

// The line with its value replaced, keeping what leads up to '=' and a comment.
std::string Replaced(std::string_view body, const std::string &value) {
  const auto equals = body.find('=');
  std::string out(body.substr(0, equals + 1));
  out += ' ';
  out += value;
  if (const auto hash = body.find('#', equals); hash != std::string_view::npos) {
    out += "  ";
    out += body.substr(hash);
  }
  return out;
}

std::string Numbers(const char *format, double a, double b, double c) {
  // No "-0.0000" for a value that rounds to zero.
  auto clean = [](double v) { return std::abs(v) < 5e-7 ? 0.0 : v; };
  char text[128];
  std::snprintf(text, sizeof text, format, clean(a), clean(b), clean(c));
  return text;
}

} // namespace

std::string WithCalibratedMount(std::string_view text, const MountOffset &mount, std::string_view note) {
  const bool marked = text.substr(0, kByteOrderMark.size()) == kByteOrderMark;
  if (marked) text.remove_prefix(kByteOrderMark.size());
  const std::vector<Line> lines = SplitLines(text);
  std::string_view lineEnd = "\n";
  for (const Line &l : lines)
    if (!l.end.empty()) {
      lineEnd = l.end;
      break;
    }

  const std::string values[2] = {
      Numbers("%.4f %.4f %.4f", mount.position[0], mount.position[1], mount.position[2]),
      Numbers("%.2f %.2f %.2f", mount.rotation.yaw, mount.rotation.pitch, mount.rotation.roll)};
  const std::string_view keys[2] = {"offset_position", "offset_rotation"};
  // The parser lets a later line win, so the last of each key is the one in effect.
  std::size_t inEffect[2] = {lines.size(), lines.size()};
  std::size_t noteAt = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    for (int k = 0; k < 2; ++k)
      if (KeyOf(lines[i].body) == keys[k]) inEffect[k] = i;
    if (Trim(lines[i].body).substr(0, kCalibrationNotePrefix.size()) == kCalibrationNotePrefix) noteAt = i;
  }
  const std::size_t firstOffset = std::min(inEffect[0], inEffect[1]);
  const std::string noteLine = std::string(kCalibrationNotePrefix) + std::string(note);

  std::string out(marked ? kByteOrderMark : std::string_view{});
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == firstOffset && noteAt == lines.size()) (out += noteLine) += lineEnd;
    if (i == noteAt) {
      (out += noteLine) += lines[i].end;
      continue;
    }
    bool replaced = false;
    for (int k = 0; k < 2; ++k)
      if (i == inEffect[k]) (out += Replaced(lines[i].body, values[k])) += lines[i].end, replaced = true;
    if (!replaced) (out += lines[i].body) += lines[i].end;
  }
  if (!lines.empty() && lines.back().end.empty() &&
      (firstOffset == lines.size() || inEffect[0] == lines.size() || inEffect[1] == lines.size()))
    out += lineEnd;
  if (firstOffset == lines.size() && noteAt == lines.size()) (out += noteLine) += lineEnd;
  for (int k = 0; k < 2; ++k)
    if (inEffect[k] == lines.size()) (((out += keys[k]) += " = ") += values[k]) += lineEnd;
  return out;
}

std::optional<std::string> CalibrationNote(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  std::optional<std::string> found;
  for (const Line &l : SplitLines(text)) {
    const std::string_view body = Trim(l.body);
    if (body.substr(0, kCalibrationNotePrefix.size()) == kCalibrationNotePrefix)
      found = std::string(body.substr(kCalibrationNotePrefix.size()));
  }
  return found;
}

fs::path ConfigBackupPath(const fs::path &config) {
  fs::path backup = config;
  backup += ".vk5-backup";
  return backup;
}

std::string WriteCalibratedMount(const fs::path &config, const MountOffset &mount, std::string_view note) {
  const std::optional<std::string> old = ReadWholeFile(config);
  if (!old) return "cannot read " + config.string();
  const std::string &text = *old;
  const fs::path backup = ConfigBackupPath(config);
  if (!WriteWholeFile(backup, text)) return "cannot write the backup " + backup.string();
  fs::path fresh = config;
  fresh += ".vk5-new";
  std::error_code ec;
  if (!WriteWholeFile(fresh, WithCalibratedMount(text, mount, note))) {
    fs::remove(fresh, ec);
    return "cannot write " + fresh.string() + " beside the configuration";
  }
  // One step, so the driver's next start sees the old file or the new one.
  fs::rename(fresh, config, ec);
  if (ec) {
    const std::string why = ec.message();
    fs::remove(fresh, ec);
    return "cannot replace " + config.string() + " (" + why + ")";
  }
  return {};
}
