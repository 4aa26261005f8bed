#include "automation/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_set>
#include <vector>

#include "automation/bstr.h"
#include "automation/hresult.h"

struct HKEY__ {
  int root;
  std::vector<std::u16string> path;
};

namespace pgx::auto_ {
namespace {

constexpr const char* kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER"};
constexpr const char* kHeader = "; pgx registry: edit with care, every change rewrites this file";

std::u16string Fold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

struct Value {
  std::u16string name;  // as created
  DWORD type = REG_NONE;
  std::u16string text;  // REG_SZ
  DWORD number = 0;     // REG_DWORD
};

struct Node {
  std::u16string name;
  std::map<std::u16string, Value> values;                    // by folded name; "" is the default value
  std::map<std::u16string, std::unique_ptr<Node>> children;  // by folded name

  std::unique_ptr<Node> Clone() const {
    auto n = std::make_unique<Node>();
    n->name = name;
    n->values = values;
    for (const auto& [k, c] : children) n->children.emplace(k, c->Clone());
    return n;
  }
};

struct Store {
  Node roots[2];
};

thread_local std::string t_error_text;

LSTATUS Fail(LSTATUS status, std::string text) {
  t_error_text = std::move(text);
  return status;
}

// ---- handles -------------------------------------------------------------------------------------

std::mutex g_handles_mutex;
std::unordered_set<HKEY> g_handles;

int RootIndex(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return 0;
  if (key == HKEY_CURRENT_USER) return 1;
  return -1;
}

// Resolves a handle to (root, path). False for an unknown handle.
bool Resolve(HKEY key, int& root, std::vector<std::u16string>& path) {
  int r = RootIndex(key);
  if (r >= 0) {
    root = r;
    path.clear();
    return true;
  }
  std::lock_guard lock(g_handles_mutex);
  if (!g_handles.count(key)) return false;
  root = key->root;
  path = key->path;
  return true;
}

// Splits a backslash path; empty segments are skipped. False when a name holds a control character.
bool SplitPath(LPCOLESTR sub_key, std::vector<std::u16string>& out) {
  if (!sub_key) return true;
  std::u16string_view rest(sub_key);
  while (!rest.empty()) {
    std::size_t cut = rest.find(u'\\');
    std::u16string_view seg = rest.substr(0, cut);
    for (char16_t c : seg) {
      if (c < 0x20 || c == u'[' || c == u']') return false;
    }
    // The file holds UTF-8: a name with an unpaired surrogate could only be saved mangled.
    std::string utf8;
    if (!Utf16ToUtf8(seg, utf8)) return false;
    if (!seg.empty()) out.emplace_back(seg);
    if (cut == std::u16string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  return true;
}

Node* Walk(Store& store, int root, const std::vector<std::u16string>& path) {
  Node* n = &store.roots[root];
  for (const auto& seg : path) {
    auto it = n->children.find(Fold(seg));
    if (it == n->children.end()) return nullptr;
    n = it->second.get();
  }
  return n;
}

const Node* Walk(const Store& store, int root, const std::vector<std::u16string>& path) {
  return Walk(const_cast<Store&>(store), root, path);
}

// ---- the file ------------------------------------------------------------------------------------

std::string Escape(std::u16string_view text) {
  std::string utf8;
  if (!Utf16ToUtf8(text, utf8)) utf8 = "?";
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

void WriteNode(std::ostringstream& out, const Node& node, const std::string& path, bool is_root) {
  if (!is_root || !node.values.empty()) {
    out << '[' << path << "]\n";
    for (const auto& [folded, v] : node.values) {
      if (v.name.empty()) {
        out << '@';
      } else {
        out << '"' << Escape(v.name) << '"';
      }
      if (v.type == REG_DWORD) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v.number));
        out << "=dword:" << buf << '\n';
      } else {
        out << "=\"" << Escape(v.text) << "\"\n";
      }
    }
    out << '\n';
  }
  for (const auto& [folded, child] : node.children) {
    std::string name;
    Utf16ToUtf8(child->name, name);
    WriteNode(out, *child, path + "\\" + name, false);
  }
}

std::string Serialize(const Store& store) {
  std::ostringstream out;
  out << kHeader << "\n\n";
  for (int r = 0; r < 2; ++r) WriteNode(out, store.roots[r], kRootNames[r], true);
  return out.str();
}

class FileParser {
 public:
  FileParser(const std::string& path, std::string_view text) : path_(path), text_(text) {}

  // Empty string on success, else "<file>:<line>: <what>".
  std::string Parse(Store& store) {
    Node* current = nullptr;
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
        current = Section(store, line, error);
      } else if (!current) {
        error = "a value stands before the first [key] line";
      } else {
        ValueLine(*current, line, error);
      }
      if (!error.empty()) return path_ + ":" + std::to_string(line_no) + ": " + error;
    }
    return {};
  }

 private:
  Node* Section(Store& store, std::string_view line, std::string& error) {
    std::size_t close = line.rfind(']');
    if (close == std::string_view::npos || close == 0) {
      error = "expected ']' at the end of the key line";
      return nullptr;
    }
    if (line.find_first_not_of(" \t", close + 1) != std::string_view::npos) {
      error = "unexpected text after ']'";
      return nullptr;
    }
    std::u16string path;
    if (!Utf8ToUtf16(line.substr(1, close - 1), path)) {
      error = "the key name is not valid UTF-8";
      return nullptr;
    }
    std::vector<std::u16string> segs;
    if (!SplitPath(path.c_str(), segs) || segs.empty()) {
      error = "bad key name";
      return nullptr;
    }
    int root = -1;
    for (int r = 0; r < 2; ++r) {
      std::u16string name;
      Utf8ToUtf16(kRootNames[r], name);
      if (Fold(segs[0]) == Fold(name)) root = r;
    }
    if (root < 0) {
      std::string name;
      Utf16ToUtf8(segs[0], name);
      error = "unknown root key '" + name + "' (expected HKEY_CLASSES_ROOT or HKEY_CURRENT_USER)";
      return nullptr;
    }
    Node* n = &store.roots[root];
    for (std::size_t i = 1; i < segs.size(); ++i) {
      auto& slot = n->children[Fold(segs[i])];
      if (!slot) {
        slot = std::make_unique<Node>();
        slot->name = segs[i];
      }
      n = slot.get();
    }
    return n;
  }

  // A quoted string starting at line[i] == '"'; advances i past the closing quote.
  bool QuotedString(std::string_view line, std::size_t& i, std::u16string& out, std::string& error) {
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

  void ValueLine(Node& node, std::string_view line, std::string& error) {
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
    node.values[Fold(name)] = std::move(v);
  }

  const std::string& path_;
  std::string_view text_;
};

// Reads and parses the file; a missing file is an empty store.
LSTATUS ReadStore(const std::string& path, Store& store) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return ERROR_SUCCESS;
    return Fail(ERROR_CANTREAD, path + ": cannot be read: " + std::strerror(errno));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(ERROR_CANTREAD, path + ": cannot be read");
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  std::string error = FileParser(path, text).Parse(store);
  if (!error.empty()) return Fail(ERROR_BADDB, "the registry file is damaged: " + error);
  return ERROR_SUCCESS;
}

struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  long long mtime_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity Identify(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {st.st_dev, st.st_ino, st.st_size,
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

// The last store read, reused while the file is unchanged.
std::mutex g_cache_mutex;
std::string g_cache_path;
FileIdentity g_cache_identity;
std::shared_ptr<const Store> g_cache_store;

LSTATUS Snapshot(std::shared_ptr<const Store>& out) {
  std::string path = RegistryPath();
  std::lock_guard lock(g_cache_mutex);
  FileIdentity id = Identify(path);
  if (g_cache_store && g_cache_path == path && g_cache_identity == id && id.size >= 0) {
    out = g_cache_store;
    return ERROR_SUCCESS;
  }
  auto store = std::make_shared<Store>();
  LSTATUS status = ReadStore(path, *store);
  if (status != ERROR_SUCCESS) return status;
  g_cache_path = path;
  g_cache_identity = id;
  g_cache_store = store;
  out = store;
  return ERROR_SUCCESS;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Applies `change` to the current contents of the file under the file lock and saves the result
// atomically. `change` returns ERROR_SUCCESS to save, anything else to leave the file as it is.
LSTATUS Mutate(const std::function<LSTATUS(Store&)>& change) {
  std::string path = RegistryPath();
  std::error_code ec;
  auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  FileLock lock(path + ".lock");
  if (!lock.ok()) return Fail(ERROR_CANTWRITE, path + ".lock: cannot be locked: " + std::strerror(errno));
  auto store = std::make_shared<Store>();
  LSTATUS status = ReadStore(path, *store);
  if (status != ERROR_SUCCESS) return status;
  status = change(*store);
  if (status != ERROR_SUCCESS) return status;
  std::string text = Serialize(*store);
  std::string temp = path + ".tmp." + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(ERROR_CANTWRITE, temp + ": cannot be created: " + std::strerror(errno));
  bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
  int saved_errno = errno;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    if (ok) saved_errno = errno;
    ::unlink(temp.c_str());
    return Fail(ERROR_CANTWRITE, path + ": cannot be written: " + std::strerror(saved_errno));
  }
  std::lock_guard cache_lock(g_cache_mutex);
  g_cache_path = path;
  g_cache_identity = Identify(path);
  g_cache_store = store;
  return ERROR_SUCCESS;
}

LSTATUS ResolveWithSubKey(HKEY key, LPCOLESTR sub_key, int& root, std::vector<std::u16string>& path) {
  if (!Resolve(key, root, path)) return ERROR_INVALID_HANDLE;
  if (!SplitPath(sub_key, path)) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

HKEY NewHandle(int root, std::vector<std::u16string> path) {
  HKEY h = new HKEY__{root, std::move(path)};
  std::lock_guard lock(g_handles_mutex);
  g_handles.insert(h);
  return h;
}

}  // namespace

std::string RegistryPath() {
  if (const char* p = std::getenv("PGX_REGISTRY"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/pgx/registry";
}

std::string RegistryErrorText() {
  return t_error_text;
}

std::optional<std::u16string> RegReadString(HKEY root, std::u16string_view path, std::u16string_view name) {
  std::u16string p(path), n(name);
  HKEY key = nullptr;
  if (RegOpenKeyEx(root, p.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, size = 0;
  std::optional<std::u16string> result;
  if (RegQueryValueEx(key, n.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::u16string buf(size / sizeof(char16_t) + 1, u'\0');
    DWORD cb = static_cast<DWORD>(buf.size() * sizeof(char16_t));
    if (RegQueryValueEx(key, n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &cb) ==
        ERROR_SUCCESS) {
      buf.resize(std::char_traits<char16_t>::length(buf.c_str()));
      result = std::move(buf);
    }
  }
  RegCloseKey(key);
  return result;
}

LSTATUS RegWriteString(HKEY root, std::u16string_view path, std::u16string_view name,
                       std::u16string_view value) {
  std::u16string p(path), n(name), v(value);
  return RegSetKeyValue(root, p.c_str(), n.c_str(), REG_SZ, v.c_str(),
                        static_cast<DWORD>((v.size() + 1) * sizeof(char16_t)));
}

}  // namespace pgx::auto_

using namespace pgx::auto_;

LSTATUS RegCreateKeyEx(HKEY key, LPCOLESTR sub_key, DWORD, LPOLESTR, DWORD, REGSAM, void*, PHKEY result,
                       DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  int root = 0;
  std::vector<std::u16string> path;
  if (LSTATUS s = ResolveWithSubKey(key, sub_key, root, path); s != ERROR_SUCCESS) return s;
  bool created = false;
  LSTATUS status;
  try {
    status = Mutate([&](Store& store) -> LSTATUS {
      Node* n = &store.roots[root];
      for (const auto& seg : path) {
        auto& slot = n->children[Fold(seg)];
        if (!slot) {
          slot = std::make_unique<Node>();
          slot->name = seg;
          created = true;
        }
        n = slot.get();
      }
      return created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
    });
    if (status == ERROR_ALREADY_EXISTS) status = ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    *result = NewHandle(root, std::move(path));
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyEx(HKEY key, LPCOLESTR sub_key, DWORD, REGSAM, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  int root = 0;
  std::vector<std::u16string> path;
  if (LSTATUS s = ResolveWithSubKey(key, sub_key, root, path); s != ERROR_SUCCESS) return s;
  try {
    std::shared_ptr<const Store> store;
    if (LSTATUS s = Snapshot(store); s != ERROR_SUCCESS) return s;
    if (!Walk(*store, root, path)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(root, std::move(path));
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  if (RootIndex(key) >= 0) return ERROR_SUCCESS;
  {
    std::lock_guard lock(g_handles_mutex);
    if (!g_handles.erase(key)) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueEx(HKEY key, LPCOLESTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  int root = 0;
  std::vector<std::u16string> path;
  if (!Resolve(key, root, path)) return ERROR_INVALID_HANDLE;
  Value v;
  v.name = name ? name : u"";
  v.type = type;
  if (type == REG_SZ) {
    if (!data && size) return ERROR_INVALID_PARAMETER;
    std::size_t chars = size / sizeof(char16_t);
    std::u16string text(chars, u'\0');
    if (chars) std::memcpy(text.data(), data, chars * sizeof(char16_t));
    text.resize(std::char_traits<char16_t>::length(text.c_str()));  // up to the first NUL
    v.text = std::move(text);
  } else if (type == REG_DWORD) {
    if (!data || size != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
    std::memcpy(&v.number, data, sizeof(DWORD));
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  // The file holds UTF-8: a name or text with an unpaired surrogate could only be saved mangled.
  std::string utf8;
  if (!Utf16ToUtf8(v.name, utf8) || !Utf16ToUtf8(v.text, utf8)) return ERROR_INVALID_PARAMETER;
  try {
    return Mutate([&](Store& store) -> LSTATUS {
      Node* n = Walk(store, root, path);
      if (!n) return ERROR_KEY_DELETED;
      n->values[Fold(v.name)] = v;
      return ERROR_SUCCESS;
    });
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegQueryValueEx(HKEY key, LPCOLESTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  int root = 0;
  std::vector<std::u16string> path;
  if (!Resolve(key, root, path)) return ERROR_INVALID_HANDLE;
  try {
    std::shared_ptr<const Store> store;
    if (LSTATUS s = Snapshot(store); s != ERROR_SUCCESS) return s;
    const Node* n = Walk(*store, root, path);
    if (!n) return ERROR_KEY_DELETED;
    auto it = n->values.find(Fold(name ? name : u""));
    if (it == n->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& v = it->second;
    if (type) *type = v.type;
    DWORD needed =
        v.type == REG_DWORD ? sizeof(DWORD) : static_cast<DWORD>((v.text.size() + 1) * sizeof(char16_t));
    if (!size) return ERROR_SUCCESS;
    if (!data) {
      *size = needed;
      return ERROR_SUCCESS;
    }
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (v.type == REG_DWORD) {
      std::memcpy(data, &v.number, sizeof(DWORD));
    } else {
      std::memcpy(data, v.text.c_str(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegEnumKeyEx(HKEY key, DWORD index, LPOLESTR name, DWORD* name_size, DWORD*, LPOLESTR, DWORD*,
                     void*) {
  if (!name || !name_size) return ERROR_INVALID_PARAMETER;
  int root = 0;
  std::vector<std::u16string> path;
  if (!Resolve(key, root, path)) return ERROR_INVALID_HANDLE;
  try {
    std::shared_ptr<const Store> store;
    if (LSTATUS s = Snapshot(store); s != ERROR_SUCCESS) return s;
    const Node* n = Walk(*store, root, path);
    if (!n) return ERROR_KEY_DELETED;
    if (index >= n->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = n->children.begin();
    std::advance(it, index);
    const std::u16string& child = it->second->name;
    if (*name_size < child.size() + 1) {
      *name_size = static_cast<DWORD>(child.size() + 1);
      return ERROR_MORE_DATA;
    }
    std::memcpy(name, child.c_str(), (child.size() + 1) * sizeof(char16_t));
    *name_size = static_cast<DWORD>(child.size());
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

namespace {
LSTATUS DeleteKey(HKEY key, LPCOLESTR sub_key, bool tree) {
  int root = 0;
  std::vector<std::u16string> path;
  if (LSTATUS s = ResolveWithSubKey(key, sub_key, root, path); s != ERROR_SUCCESS) return s;
  bool whole_key = !(tree && !sub_key);
  if (whole_key && path.empty()) return ERROR_ACCESS_DENIED;  // a root cannot be deleted
  try {
    return Mutate([&](Store& store) -> LSTATUS {
      if (!whole_key) {
        Node* n = Walk(store, root, path);
        if (!n) return ERROR_KEY_DELETED;
        n->values.clear();
        n->children.clear();
        return ERROR_SUCCESS;
      }
      std::vector<std::u16string> parent_path(path.begin(), path.end() - 1);
      Node* parent = Walk(store, root, parent_path);
      if (!parent) return ERROR_FILE_NOT_FOUND;
      auto it = parent->children.find(Fold(path.back()));
      if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
      if (!tree && !it->second->children.empty()) return ERROR_ACCESS_DENIED;
      parent->children.erase(it);
      return ERROR_SUCCESS;
    });
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}
}  // namespace

LSTATUS RegDeleteKey(HKEY key, LPCOLESTR sub_key) {
  if (!sub_key) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, sub_key, false);
}

LSTATUS RegDeleteTree(HKEY key, LPCOLESTR sub_key) {
  return DeleteKey(key, sub_key, true);
}

LSTATUS RegDeleteValue(HKEY key, LPCOLESTR name) {
  int root = 0;
  std::vector<std::u16string> path;
  if (!Resolve(key, root, path)) return ERROR_INVALID_HANDLE;
  try {
    return Mutate([&](Store& store) -> LSTATUS {
      Node* n = Walk(store, root, path);
      if (!n) return ERROR_KEY_DELETED;
      return n->values.erase(Fold(name ? name : u"")) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegSetKeyValue(HKEY key, LPCOLESTR sub_key, LPCOLESTR name, DWORD type, const void* data,
                       DWORD size) {
  HKEY sub = nullptr;
  LSTATUS s = RegCreateKeyEx(key, sub_key, 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr);
  if (s != ERROR_SUCCESS) return s;
  s = RegSetValueEx(sub, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(sub);
  return s;
}
