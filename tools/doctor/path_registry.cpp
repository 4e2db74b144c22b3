#include "tools/doctor/path_registry.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tools/pose_getter/whole_file.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace doctor {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr const char *kDriversKey = "external_drivers";
constexpr const char *kDriverName = "vantorelle_k5";

// Where one JSON value lies in the text: [begin, end).
struct Span {
  size_t begin = 0;
  size_t end = 0;
};

// A scanner over text that nlohmann has already accepted as JSON, so it only
// needs to find where values start and end, not to validate them.
class Scanner {
public:
  explicit Scanner(const std::string &text) : s_(text) {}

  size_t SkipBlanks(size_t i) const {
    while (i < s_.size() && (s_[i] == ' ' || s_[i] == '\t' || s_[i] == '\n' || s_[i] == '\r')) ++i;
    return i;
  }

  size_t ValueEnd(size_t i) const {
    if (s_[i] == '"') return StringEnd(i);
    if (s_[i] == '{' || s_[i] == '[') {
      int depth = 0;
      for (; i < s_.size(); ++i) {
        if (s_[i] == '"') {
          i = StringEnd(i) - 1;
        } else if (s_[i] == '{' || s_[i] == '[') {
          ++depth;
        } else if (s_[i] == '}' || s_[i] == ']') {
          if (--depth == 0) return i + 1;
        }
      }
      return s_.size();
    }
    while (i < s_.size() && std::string_view(",]} \t\r\n").find(s_[i]) == std::string_view::npos) ++i;
    return i;
  }

  // The values of the object or array whose opening bracket is at `open`;
  // `close` receives the position of its closing bracket. For an object each
  // member gives two spans, key then value.
  std::vector<Span> Items(size_t open, size_t &close) const {
    std::vector<Span> items;
    const bool object = s_[open] == '{';
    size_t i = SkipBlanks(open + 1);
    while (i < s_.size() && s_[i] != '}' && s_[i] != ']') {
      if (object) {
        items.push_back({i, StringEnd(i)});
        i = SkipBlanks(SkipBlanks(items.back().end) + 1); // past the colon
      }
      items.push_back({i, ValueEnd(i)});
      i = SkipBlanks(items.back().end);
      if (i < s_.size() && s_[i] == ',') i = SkipBlanks(i + 1);
    }
    close = i;
    return items;
  }

private:
  size_t StringEnd(size_t i) const {
    for (++i; i < s_.size(); ++i) {
      if (s_[i] == '\\') {
        ++i;
      } else if (s_[i] == '"') {
        return i + 1;
      }
    }
    return s_.size();
  }

  const std::string &s_;
};

std::string Utf8(const fs::path &p) {
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}

fs::path FromUtf8(const std::string &s) {
  return fs::path(std::u8string(s.begin(), s.end()));
}

// The blanks before position `at` back to the start of its line: the
// indentation of whatever starts there.
std::string IndentBefore(const std::string &text, size_t at) {
  size_t start = at;
  while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) --start;
  return text.substr(start, at - start);
}

std::string OneIndent(const std::string &indent) {
  return indent.find('\t') != std::string::npos ? "\t" : "  ";
}

// The parts of a registry text an edit needs.
struct Layout {
  size_t objectClose = 0;
  std::vector<Span> members;     // key, value, key, value...
  std::optional<size_t> drivers; // index of the "external_drivers" value in `members`
  std::vector<Span> entries;     // its elements
  size_t arrayClose = 0;
};

std::optional<Layout> Read(const std::string &text, std::string &error) {
  const json j = json::parse(text, nullptr, false);
  if (j.is_discarded()) {
    error = "it is not valid JSON";
    return std::nullopt;
  }
  if (!j.is_object()) {
    error = "it is not a JSON object";
    return std::nullopt;
  }
  if (j.contains("jsonid") && j["jsonid"] != "vrpathreg") {
    error = "its \"jsonid\" is not \"vrpathreg\"";
    return std::nullopt;
  }
  if (j.contains(kDriversKey)) {
    const json &list = j[kDriversKey];
    if (!list.is_array() || !std::all_of(list.begin(), list.end(), [](const json &e) { return e.is_string(); })) {
      error = std::string("its \"") + kDriversKey + "\" is not a list of folder names";
      return std::nullopt;
    }
  }

  Layout layout;
  const Scanner scan(text);
  size_t open = scan.SkipBlanks(text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0);
  layout.members = scan.Items(open, layout.objectClose);
  for (size_t k = 0; k + 1 < layout.members.size(); k += 2) {
    const Span key = layout.members[k];
    if (json::parse(text.substr(key.begin, key.end - key.begin)) == kDriversKey) layout.drivers = k + 1;
  }
  if (layout.drivers) layout.entries = scan.Items(layout.members[*layout.drivers].begin, layout.arrayClose);
  return layout;
}

std::string EntryValue(const std::string &text, Span s) {
  return json::parse(text.substr(s.begin, s.end - s.begin)).get<std::string>();
}

bool NamedLikeOurs(const std::string &entry) {
  fs::path p = FromUtf8(entry).lexically_normal();
  if (!p.has_filename()) p = p.parent_path();
  return p.filename() == kDriverName;
}

RegistryOutcome Refuse(const std::string &why) {
  return {RegistryChange::Refused, "refused: " + why};
}

std::optional<std::string> ReadFile(const fs::path &file, std::string &why) {
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    why = file.string() +
          " does not exist. The host writes it the first time it starts: start the host once, close it, "
          "then run this again.";
    return std::nullopt;
  }
  if (!fs::is_regular_file(file, ec)) {
    why = file.string() + " is not a file.";
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) {
    why = file.string() + " cannot be opened for reading.";
    return std::nullopt;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    why = file.string() + " cannot be read.";
    return std::nullopt;
  }
  return text;
}

// Replaces `to` with `from` in one step, so a reader sees the old file or the new one.
bool ReplaceFile(const fs::path &from, const fs::path &to, std::string &why) {
#ifdef _WIN32
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  why = "error " + std::to_string(GetLastError());
  return false;
#else
  std::error_code ec;
  fs::rename(from, to, ec);
  why = ec.message();
  return !ec;
#endif
}

bool ReadOnly(const fs::path &file) {
  std::error_code ec;
  const fs::perms p = fs::status(file, ec).permissions();
  return !ec && (p & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none;
}

RegistryOutcome Edit(const fs::path &registry, const fs::path &folder, bool add) {
  std::string why;
  const std::optional<std::string> text = ReadFile(registry, why);
  if (!text) return Refuse(why);
  const RegistryText edit = add ? AddExternalDriver(*text, folder) : RemoveExternalDriver(*text, folder);
  if (!edit.error.empty())
    return Refuse(registry.string() + " is not the host's path registry (" + edit.error + "); it was left as it was.");

  std::string notes;
  for (const std::string &other : edit.others)
    notes += "\nnote: the list also names " + other + (add ? ", which comes first and wins for the host" : "") +
             "; remove it with: vk5-doctor --unregister --driver-folder \"" + other + "\"";
  if (!edit.changed) {
    return add ? RegistryOutcome{RegistryChange::AlreadyThere,
                                 "already registered: " + registry.string() + " lists " + folder.string() + notes}
               : RegistryOutcome{RegistryChange::WasNotThere,
                                 "not registered: " + registry.string() + " does not list " + folder.string() + notes};
  }
  if (ReadOnly(registry))
    return Refuse(registry.string() + " is read-only; make it writable (or use the host's own registration tool).");

  const fs::path backup = BackupPath(registry);
  if (!WriteWholeFile(backup, *text)) return Refuse("the backup " + backup.string() + " cannot be written.");
  fs::path fresh = registry;
  fresh += ".vk5-new";
  if (!WriteWholeFile(fresh, edit.text)) {
    std::error_code ec;
    fs::remove(fresh, ec);
    return Refuse("the new file " + fresh.string() + " cannot be written beside the old one.");
  }
  if (!ReplaceFile(fresh, registry, why)) {
    std::error_code ec;
    fs::remove(fresh, ec);
    return Refuse(registry.string() + " cannot be replaced (" + why + ").");
  }
  const std::string where = " " + std::string(add ? "to" : "from") + " the host's driver list in " + registry.string() +
                            " (the old file is kept as " + backup.string() + ")";
  return add ? RegistryOutcome{RegistryChange::Added, "registered: added " + folder.string() + where + notes}
             : RegistryOutcome{RegistryChange::Removed, "unregistered: removed " + folder.string() + where + notes};
}

} // namespace

bool SameFolder(const fs::path &a, const fs::path &b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) {
    const bool same = fs::equivalent(a, b, ec);
    if (!ec) return same;
  }
  auto spelling = [](const fs::path &p) {
    std::string s = Utf8(p.lexically_normal().generic_string());
    while (s.size() > 1 && s.back() == '/') s.pop_back();
#ifdef _WIN32
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
#endif
    return s;
  };
  return spelling(a) == spelling(b);
}

RegistryText AddExternalDriver(const std::string &text, const fs::path &folder) {
  RegistryText out{text, {}, false, {}};
  const std::optional<Layout> layout = Read(text, out.error);
  if (!layout) return out;
  for (const Span &e : layout->entries) {
    const std::string entry = EntryValue(text, e);
    if (SameFolder(FromUtf8(entry), folder)) return out;
    if (NamedLikeOurs(entry)) out.others.push_back(entry);
  }
  const std::string value = json(Utf8(folder)).dump();
  // Line ends as the file has them.
  const std::string nl = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::string &t = out.text;
  if (layout->drivers && !layout->entries.empty()) {
    const Span last = layout->entries.back();
    // The new entry goes last, with the separator the previous one has.
    std::string separator = ", ";
    if (layout->entries.size() > 1) {
      const Span before = layout->entries[layout->entries.size() - 2];
      separator = text.substr(before.end, last.begin - before.end);
    } else if (text.find('\n', layout->members[*layout->drivers].begin) < last.begin) {
      separator = "," + nl + IndentBefore(text, last.begin);
    }
    t.insert(last.end, separator + value);
  } else if (layout->drivers) {
    const Span list = layout->members[*layout->drivers];
    const std::string indent = IndentBefore(text, layout->members[*layout->drivers - 1].begin);
    t.replace(list.begin, list.end - list.begin, "[" + nl + indent + OneIndent(indent) + value + nl + indent + "]");
  } else if (!layout->members.empty()) {
    const Span lastKey = layout->members[layout->members.size() - 2];
    const std::string indent = IndentBefore(text, lastKey.begin);
    t.insert(layout->members.back().end, "," + nl + indent + "\"" + kDriversKey + "\" : [" + nl + indent +
                                             OneIndent(indent) + value + nl + indent + "]");
  } else {
    t.replace(layout->objectClose, 0, nl + "\t\"" + kDriversKey + "\" : [" + nl + "\t\t" + value + nl + "\t]" + nl);
  }
  out.changed = true;
  return out;
}

RegistryText RemoveExternalDriver(const std::string &text, const fs::path &folder) {
  RegistryText out{text, {}, false, {}};
  const std::optional<Layout> layout = Read(text, out.error);
  if (!layout) return out;
  const std::vector<Span> &entries = layout->entries;
  std::vector<bool> ours(entries.size());
  for (size_t k = 0; k < entries.size(); ++k) {
    const std::string entry = EntryValue(text, entries[k]);
    ours[k] = SameFolder(FromUtf8(entry), folder);
    if (!ours[k] && NamedLikeOurs(entry)) out.others.push_back(entry);
  }
  const size_t kept = static_cast<size_t>(std::count(ours.begin(), ours.end(), false));
  if (kept == entries.size()) return out;
  // Each removed entry takes the separator before it with it; the first one,
  // the separator after it. Removal runs back to front so spans stay valid.
  std::string &t = out.text;
  if (kept == 0) {
    t.erase(layout->members[*layout->drivers].begin + 1,
            layout->arrayClose - layout->members[*layout->drivers].begin - 1);
  } else {
    const size_t firstKept = static_cast<size_t>(std::find(ours.begin(), ours.end(), false) - ours.begin());
    for (size_t k = entries.size(); k-- > 0;) {
      if (!ours[k]) continue;
      if (k < firstKept) {
        t.erase(entries[k].begin, entries[k + 1].begin - entries[k].begin);
      } else {
        t.erase(entries[k - 1].end, entries[k].end - entries[k - 1].end);
      }
    }
  }
  out.changed = true;
  return out;
}

fs::path BackupPath(const fs::path &registry) {
  fs::path backup = registry;
  backup += ".vk5-backup";
  return backup;
}

RegistryOutcome RegisterDriverFolder(const fs::path &registry, const fs::path &folder) {
  return Edit(registry, folder, true);
}

RegistryOutcome UnregisterDriverFolder(const fs::path &registry, const fs::path &folder) {
  return Edit(registry, folder, false);
}

} // namespace doctor
