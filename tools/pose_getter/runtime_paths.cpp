#include "tools/pose_getter/runtime_paths.h"

#include "tools/pose_getter/client_library.h"

#include <fstream>
#include <sstream>

namespace {
// Just enough JSON to walk an object and read its strings: values that are not
// looked at are skipped, nesting is bounded so hostile input cannot exhaust
// the stack.
class JsonReader {
public:
  explicit JsonReader(std::string_view text) : s_(text) {}

  void SkipBlanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }
  bool Take(char c) {
    SkipBlanks();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool AtEnd() const { return i_ == s_.size(); }

  bool String(std::string &out) {
    out.clear();
    if (!Take('"')) return false;
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      switch (const char e = s_[i_++]) {
      case '"':
      case '\\':
      case '/':
        out += e;
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        unsigned code = 0;
        if (!Hex4(code)) return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
          unsigned low = 0;
          if (i_ + 1 >= s_.size() || s_[i_] != '\\' || s_[i_ + 1] != 'u') return false;
          i_ += 2;
          if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
          return false;
        }
        AppendUtf8(out, code);
        break;
      }
      default:
        return false;
      }
    }
    return false;
  }

  bool SkipValue(int depth = 0) {
    if (depth > 64) return false;
    SkipBlanks();
    if (i_ >= s_.size()) return false;
    std::string ignored;
    switch (s_[i_]) {
    case '"':
      return String(ignored);
    case '{':
      ++i_;
      if (Take('}')) return true;
      do {
        if (!String(ignored) || !Take(':') || !SkipValue(depth + 1)) return false;
      } while (Take(','));
      return Take('}');
    case '[':
      ++i_;
      if (Take(']')) return true;
      do {
        if (!SkipValue(depth + 1)) return false;
      } while (Take(','));
      return Take(']');
    default: {
      // Numbers, true, false, null.
      const std::size_t start = i_;
      while (i_ < s_.size() && std::string_view("+-.0123456789eEtrufalsn").find(s_[i_]) != std::string_view::npos) ++i_;
      return i_ > start;
    }
    }
  }

private:
  bool Hex4(unsigned &out) {
    if (i_ + 4 > s_.size()) return false;
    out = 0;
    for (int k = 0; k < 4; ++k) {
      const char h = s_[i_++];
      out <<= 4;
      if (h >= '0' && h <= '9')
        out |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f')
        out |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        out |= static_cast<unsigned>(h - 'A' + 10);
      else
        return false;
    }
    return true;
  }
  static void AppendUtf8(std::string &out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
};
} // namespace

std::string_view WithoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  return text.substr(0, kMark.size()) == kMark ? text.substr(kMark.size()) : text;
}

std::string FirstRuntimePath(std::string_view registryJson, bool *parsed) {
  bool ignored = false;
  bool &ok = parsed ? *parsed : ignored;
  ok = false;
  // The whole document is read: a file cut short is one the host's own
  // parser refuses, whatever its first lines say.
  JsonReader json(WithoutByteOrderMark(registryJson));
  if (!json.Take('{')) return {};
  std::string first;
  if (!json.Take('}')) {
    std::string key;
    do {
      if (!json.String(key) || !json.Take(':')) return {};
      if (key != "runtime" || !first.empty()) {
        if (!json.SkipValue()) return {};
        continue;
      }
      if (!json.Take('[')) return {};
      if (json.Take(']')) continue;
      if (!json.String(first)) return {};
      for (std::string other; json.Take(',');)
        if (!json.String(other)) return {};
      if (!json.Take(']')) return {};
    } while (json.Take(','));
    if (!json.Take('}')) return {};
  }
  json.SkipBlanks();
  if (!json.AtEnd()) return {};
  ok = true;
  return first;
}

std::filesystem::path PathFromUtf8(const std::string &utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

RuntimeLookup FindRuntimeFolder(const std::string &registryFile) {
  if (std::string override = EnvironmentUtf8("VR_OVERRIDE"); !override.empty()) return {override, {}};
  if (registryFile.empty()) return {{}, "no runtime installed (no home folder to look for its path registry in)"};
  std::ifstream in(PathFromUtf8(registryFile), std::ios::binary);
  if (!in) return {{}, "no runtime installed (no path registry at " + registryFile + ")"};
  std::stringstream text;
  text << in.rdbuf();
  bool parsed = false;
  std::string first = FirstRuntimePath(text.str(), &parsed);
  if (!parsed) return {{}, "cannot parse the path registry " + registryFile};
  if (first.empty()) return {{}, "the path registry " + registryFile + " lists no runtime"};
  return {std::move(first), {}};
}
