#include "automation/registry_text.h"

#include <cctype>
#include <cstdio>
#include <utility>
#include <vector>

#include "automation/bstr.h"
#include "automation/registry.h"

namespace pgx::auto_::registry {
namespace {

constexpr const char* kHeader = "; pgx registry: edit with care, every change rewrites this file";

std::string Escape(std::u16string_view text) {
  std::string utf8;
  if (!Utf16ToUtf8(text, utf8))
    utf8.assign(1, '?');  // not = "?": GCC 12 warns falsely (-Wrestrict) on that in optimised builds
  std::string out;
  for (char c : utf8) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out;
}

void WriteSection(std::string& out, const std::string& path, const Key& key) {
  out += '[';
  out += path;
  out += "]\n";
  for (const auto& [folded, v] : key.values) {
    if (v.name.empty()) {
      out += '@';
    } else {
      out += '"' + Escape(v.name) + '"';
    }
    if (v.type == REG_DWORD) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v.number));
      out += "=dword:";
      out += buf;
      out += '\n';
    } else {
      out += "=\"" + Escape(v.text) + "\"\n";
    }
  }
  out += '\n';
}

class Parser {
 public:
  Parser(std::string_view file_name, std::string_view text) : file_name_(file_name), text_(text) {}

  std::string Parse(Tree& tree) {
    Key* current = nullptr;
    std::size_t pos = 0;
    int line_no = 0;
    while (pos < text_.size()) {
      std::size_t end = text_.find('\n', pos);
      if (end == std::string_view::npos) end = text_.size();
      std::string_view line = text_.substr(pos, end - pos);
      pos = end + 1;
      ++line_no;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      std::size_t first = line.find_first_not_of(" \t");
      if (first == std::string_view::npos || line[first] == ';' || line[first] == '#') continue;
      line.remove_prefix(first);
      std::string error;
      if (line.front() == '[') {
        current = Section(tree, line, error);
      } else if (!current) {
        error = "a value stands before the first [key] line";
      } else {
        ValueLine(*current, line, error);
      }
      if (!error.empty()) return std::string(file_name_) + ":" + std::to_string(line_no) + ": " + error;
    }
    return {};
  }

 private:
  static Key* Section(Tree& tree, std::string_view line, std::string& error) {
    std::size_t close = line.rfind(']');
    if (close == std::string_view::npos || close == 0) {
      error = "expected ']' at the end of the key line";
      return nullptr;
    }
    if (line.find_first_not_of(" \t", close + 1) != std::string_view::npos) {
      error = "unexpected text after ']'";
      return nullptr;
    }
    std::u16string text;
    if (!Utf8ToUtf16(line.substr(1, close - 1), text)) {
      error = "the key name is not valid UTF-8";
      return nullptr;
    }
    std::u16string_view rest(text);
    while (!rest.empty() && rest.front() == u'\\') rest.remove_prefix(1);
    const std::u16string_view root_name = rest.substr(0, rest.find(u'\\'));
    rest.remove_prefix(root_name.size());
    if (root_name.empty()) {
      error = PathErrorText(PathError::kBadName);
      return nullptr;
    }
    int root = -1;
    for (int r = 0; r < kRootCount; ++r) {
      std::u16string name;
      Utf8ToUtf16(kRootNames[r], name);
      if (FoldName(root_name) == FoldName(name)) root = r;
    }
    if (root < 0) {
      std::string name;
      if (!Utf16ToUtf8(root_name, name)) name.assign(1, '?');
      error = "unknown root key '" + name + "' (expected HKEY_CLASSES_ROOT or HKEY_CURRENT_USER)";
      return nullptr;
    }
    KeyPath path;
    if (PathError e = SplitKeyPath(rest, path); e != PathError::kNone) {
      error = PathErrorText(e);
      return nullptr;
    }
    return &CreateKey(tree, root, path);
  }

  // A quoted string starting at line[i] == '"'; advances i past the closing quote.
  static bool QuotedString(std::string_view line, std::size_t& i, std::u16string& out, std::string& error) {
    std::string raw;
    ++i;
    while (true) {
      if (i >= line.size()) {
        error = "unterminated string: expected '\"'";
        return false;
      }
      char c = line[i++];
      if (c == '"') break;
      if (c != '\\') {
        raw += c;
        continue;
      }
      if (i >= line.size()) {
        error = "unterminated string: expected '\"'";
        return false;
      }
      char e = line[i++];
      switch (e) {
        case '\\':
          raw += '\\';
          break;
        case '"':
          raw += '"';
          break;
        case 'n':
          raw += '\n';
          break;
        case 'r':
          raw += '\r';
          break;
        case 't':
          raw += '\t';
          break;
        case 'x': {
          if (i + 2 > line.size() || !std::isxdigit(static_cast<unsigned char>(line[i])) ||
              !std::isxdigit(static_cast<unsigned char>(line[i + 1]))) {
            error = "expected two hex digits after \\x";
            return false;
          }
          raw += static_cast<char>(std::stoi(std::string(line.substr(i, 2)), nullptr, 16));
          i += 2;
          break;
        }
        default:
          error = std::string("unknown escape '\\") + e + "'";
          return false;
      }
    }
    if (!Utf8ToUtf16(raw, out)) {
      error = "the string is not valid UTF-8";
      return false;
    }
    return true;
  }

  static void ValueLine(Key& key, std::string_view line, std::string& error) {
    std::size_t i = 0;
    std::u16string name;
    if (line[0] == '@') {
      i = 1;
    } else if (line[0] == '"') {
      if (!QuotedString(line, i, name, error)) return;
    } else {
      error = "expected '[key]', '@=' or '\"name\"='";
      return;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != '=') {
      error = "expected '=' after the value name";
      return;
    }
    ++i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    Value v;
    v.name = name;
    if (i < line.size() && line[i] == '"') {
      v.type = REG_SZ;
      if (!QuotedString(line, i, v.text, error)) return;
    } else if (line.substr(i, 6) == "dword:") {
      std::string_view digits = line.substr(i + 6, 8);
      if (digits.size() != 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
        error = "expected 8 hex digits after 'dword:'";
        return;
      }
      v.type = REG_DWORD;
      v.number = static_cast<DWORD>(std::stoul(std::string(digits), nullptr, 16));
      i += 14;
    } else {
      error = "expected a quoted string or dword:XXXXXXXX after '='";
      return;
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i != line.size()) {
      error = "unexpected text after the value";
      return;
    }
    key.values[FoldName(name)] = std::move(v);
  }

  std::string_view file_name_;
  std::string_view text_;
};

}  // namespace

std::string WriteText(const Tree& tree) {
  std::string out = kHeader;
  out += "\n\n";
  // Depth first with a stack of its own: each entry is a key whose section is written and the subkeys
  // still to visit, with the length of `path` that belongs to it.
  struct Frame {
    const Key* key;
    std::map<std::u16string, std::unique_ptr<Key>>::const_iterator next;
    std::size_t path_length;
  };
  for (int r = 0; r < kRootCount; ++r) {
    const Key& root = tree.roots[r];
    std::string path = kRootNames[r];
    if (!root.values.empty()) WriteSection(out, path, root);
    std::vector<Frame> stack{{&root, root.subkeys.begin(), path.size()}};
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next == top.key->subkeys.end()) {
        stack.pop_back();
        continue;
      }
      const Key& key = *(top.next++)->second;
      path.resize(top.path_length);
      std::string name;
      if (!Utf16ToUtf8(key.name, name)) name.assign(1, '?');
      path += '\\';
      path += name;
      if (!key.values.empty() || key.subkeys.empty()) WriteSection(out, path, key);
      stack.push_back({&key, key.subkeys.begin(), path.size()});
    }
  }
  return out;
}

std::string ParseText(std::string_view file_name, std::string_view text, Tree& tree) {
  return Parser(file_name, text).Parse(tree);
}

}  // namespace pgx::auto_::registry
