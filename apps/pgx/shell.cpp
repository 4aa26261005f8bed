#include "apps/pgx/shell.h"

#include <editline/readline.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <set>

#include "apps/pgx/commands.h"
#include "apps/pgx/runner.h"

namespace pgx::cli {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// The interface a path leads to by the types of its members' results, or none.
std::optional<InterfaceInfo> StaticType(const Connection& connection, const std::string& path_text) {
  InterfaceInfo iface = InterfaceInfo::Of(connection.Base());
  if (path_text.empty()) return iface;
  Path path;
  try {
    path = ParsePath(path_text);
  } catch (const InputError&) {
    return std::nullopt;
  }
  for (const Segment& segment : path.segments) {
    const MemberForm* form = nullptr;
    for (const MemberForm* f : iface.Find(segment.name)) {
      if (f->invkind == INVOKE_PROPERTYGET || (!form && f->invkind == INVOKE_FUNC)) form = f;
    }
    if (!form) return std::nullopt;
    const TypeDesc result = form->Result();
    const Library::Type* type = result.name.empty() ? nullptr : connection.library().FindType(result.name);
    if (!type || !result.IsObject()) return std::nullopt;
    iface = InterfaceInfo(type->info);
  }
  return iface;
}

const std::vector<std::string> kShellWords = {"help", "members", "quit", "exit"};

std::string HistoryFile() {
  std::filesystem::path dir;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
    dir = state;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dir = std::filesystem::path(home) / ".local" / "state";
  } else {
    return {};
  }
  dir /= "pgx";
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  return (dir / "history").string();
}

// libedit's completion hooks reach the connection through this.
const Connection* g_completing = nullptr;
std::vector<std::string> g_matches;

char* NextMatch(const char*, int state) {
  static std::size_t next = 0;
  if (state == 0) next = 0;
  if (next >= g_matches.size()) return nullptr;
  return strdup(g_matches[next++].c_str());
}

char** Complete(const char* text, int, int end) {
  rl_attempted_completion_over = 1;  // no file names
  if (!g_completing) return nullptr;
  g_matches =
      Completions(*g_completing, std::string(rl_line_buffer, static_cast<std::size_t>(std::max(end, 0))));
  return rl_completion_matches(text, NextMatch);
}

void PrintHelp(std::ostream& out) {
  out << "Statements:\n"
         "  get PATH           read a property (or call a method): Channels.Item(1).Voltage.High\n"
         "  PATH               the same as get PATH\n"
         "  set PATH VALUE     set a property: set Frequency 2e6, set Trigger.Arm.Source "
         "PgxArmSourceExternal\n"
         "  call PATH          call a method: call Reset, call Open(True)\n"
         "  errors             the instrument's error queue and warnings\n"
         "  members [NAME]     the members of an interface, enumeration or record\n"
         "  help, quit\n"
         "Values: 42, 0x1F, 2.5e-9, True, False, \"text\", PgxPulseModeBurst, [1, 2, 255].\n"
         "Tab completes member names and constants; arrows recall earlier lines.\n"
      << std::flush;
}

}  // namespace

std::vector<std::string> Completions(const Connection& connection, const std::string& line) {
  const std::size_t word_start =
      line.find_last_of(" \t.(,[=") == std::string::npos ? 0 : line.find_last_of(" \t.(,[=") + 1;
  const std::string word = line.substr(word_start);
  const std::size_t first_end = line.find_first_of(" \t");
  std::set<std::string, bool (*)(const std::string&, const std::string&)> found(
      [](const std::string& a, const std::string& b) { return a < b; });
  auto members = [&](const InterfaceInfo& iface) {
    for (const MemberForm& m : iface.Members()) {
      if (!m.Hidden() && StartsWith(m.name, word)) found.insert(m.name);
    }
  };
  auto constants = [&](const std::string& enumeration) {
    for (const Constant& c : connection.library().Constants()) {
      if ((enumeration.empty() || c.enumeration == enumeration) && StartsWith(c.name, word) &&
          !connection.library().IsSentinel(c))
        found.insert(c.name);
    }
    for (const char* b : {"True", "False"}) {
      if (enumeration.empty() && StartsWith(b, word)) found.insert(b);
    }
  };

  // The first word: a statement, or a path read as get.
  if (first_end == std::string::npos || first_end >= word_start) {
    if (line.find('.') == std::string::npos && line.find('(') == std::string::npos) {
      for (const std::string& k : StatementKeywords()) {
        if (StartsWith(k, word)) found.insert(k);
      }
      for (const std::string& k : kShellWords) {
        if (StartsWith(k, word)) found.insert(k);
      }
    }
  }
  const bool after_keyword = first_end != std::string::npos && first_end < word_start;
  const std::string keyword = line.substr(0, std::min(first_end, line.size()));
  std::string expression = after_keyword ? line.substr(first_end) : line;
  const std::size_t expression_start = expression.find_first_not_of(" \t");
  expression = expression_start == std::string::npos ? "" : expression.substr(expression_start);
  const std::string before_word = expression.substr(0, expression.size() - word.size());

  if (after_keyword && SameName(keyword, "members")) {
    for (const Library::Type& t : connection.library().Types()) {
      if (StartsWith(t.name, word)) found.insert(t.name);
    }
    return {found.begin(), found.end()};
  }
  // Inside parentheses: an argument, usually a constant.
  if (std::count(before_word.begin(), before_word.end(), '(') >
      std::count(before_word.begin(), before_word.end(), ')')) {
    constants("");
    return {found.begin(), found.end()};
  }
  // After "set PATH ": the value, a constant of the property's enumeration when it has one.
  if (after_keyword && SameName(keyword, "set")) {
    const std::size_t blank = before_word.find_first_of(" \t=");
    if (blank != std::string::npos) {
      std::string path = before_word.substr(0, blank);
      const std::size_t dot = path.find_last_of('.');
      std::optional<InterfaceInfo> owner =
          StaticType(connection, dot == std::string::npos ? "" : path.substr(0, dot));
      std::string enumeration;
      if (owner) {
        const std::string name = dot == std::string::npos ? path : path.substr(dot + 1);
        for (const MemberForm* f : owner->Find(name.substr(0, name.find('('))))
          if (f->PutValue() && f->PutValue()->type.IsEnum()) enumeration = f->PutValue()->type.name;
      }
      constants(enumeration);
      return {found.begin(), found.end()};
    }
  }
  // A member along a path.
  if (after_keyword && !SameName(keyword, "get") && !SameName(keyword, "set") && !SameName(keyword, "call"))
    return {found.begin(), found.end()};
  std::string owner_path = before_word;
  if (!owner_path.empty() && owner_path.back() == '.') owner_path.pop_back();
  if (!owner_path.empty() && before_word.back() != '.') return {found.begin(), found.end()};
  if (std::optional<InterfaceInfo> owner = StaticType(connection, owner_path)) members(*owner);
  return {found.begin(), found.end()};
}

int RunShell(Connection& connection, Reporter& reporter, std::istream& in, bool interactive) {
  Runner runner(connection, reporter, /*labelled=*/false);
  bool failed = false;
  auto handle = [&](const std::string& text, int line) {
    std::string trimmed = text;
    trimmed.erase(0, std::min(trimmed.find_first_not_of(" \t"), trimmed.size()));
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back()))) trimmed.pop_back();
    if (trimmed == "quit" || trimmed == "exit") return false;
    if (trimmed == "help" || trimmed == "?") {
      PrintHelp(reporter.out());
    } else if (trimmed == "members" || trimmed.rfind("members ", 0) == 0) {
      std::string name = trimmed.size() > 8 ? trimmed.substr(8) : "";
      name.erase(0, std::min(name.find_first_not_of(" \t"), name.size()));
      if (name.empty()) name = InterfaceInfo::Of(connection.Base()).Name();
      failed |= ListMembers(connection.library(), name, reporter) != 0;
    } else if (!runner.ExecuteLine(trimmed, interactive ? 0 : line, /*bare_path_is_get=*/true)) {
      failed = true;
    }
    return true;
  };

  if (!interactive) {
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
      if (!handle(text, line)) break;
    }
    return failed ? 1 : 0;
  }

  const std::string history = HistoryFile();
  rl_readline_name = "pgx";
  static char breaks[] = " \t.(,[=";
  rl_completer_word_break_characters = breaks;
  rl_basic_word_break_characters = breaks;
  rl_attempted_completion_function = Complete;
  g_completing = &connection;
  using_history();
  stifle_history(1000);
  if (!history.empty()) read_history(history.c_str());
  const std::string prompt =
      "pgx" + (connection.InstrumentName().empty() ? std::string() : " " + connection.InstrumentName()) +
      "> ";
  reporter.out() << "pgx shell on "
                 << (connection.InstrumentName().empty() ? "the root object PgxGen"
                                                         : connection.InstrumentName())
                 << ". Type help for the statements, Tab to complete, quit to leave.\n"
                 << std::flush;
  std::string last;
  while (char* raw = readline(prompt.c_str())) {
    std::string text(raw);
    std::free(raw);
    if (!text.empty() && text != last) {
      add_history(text.c_str());
      last = text;
    }
    if (!handle(text, 0)) break;
  }
  if (!history.empty()) write_history(history.c_str());
  g_completing = nullptr;
  reporter.out() << std::flush;
  return failed ? 1 : 0;
}

}  // namespace pgx::cli
