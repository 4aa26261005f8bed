#include "apps/pgx/runner.h"

namespace pgx::cli {

bool Runner::ExecuteLine(const std::string& text, int line, bool bare_path_is_get) {
  Statement statement;
  try {
    statement = ParseStatement(text, bare_path_is_get);
  } catch (const InputError& e) {
    reporter_.BadInput(e.what(), ++statements_, line);
    return false;
  }
  if (statement.kind == Statement::Kind::kNone) return true;
  return Execute(statement, line);
}

bool Runner::Execute(const Statement& statement, int line) {
  ++statements_;
  if (statement.kind == Statement::Kind::kErrors) return ShowErrors(line);
  const Action action = statement.kind == Statement::Kind::kSet    ? Action::kSet
                        : statement.kind == Statement::Kind::kCall ? Action::kCall
                                                                   : Action::kGet;
  try {
    Outcome outcome =
        connection_.evaluator().Run(connection_.Base(), statement.path, action, statement.value);
    Show(statement, outcome);
    return true;
  } catch (const MemberFailure& e) {
    reporter_.MemberFailed(e.failure(), statements_, line, statement.path.source);
  } catch (const InputError& e) {
    reporter_.BadInput(e.what(), statements_, line, statement.path.source);
  }
  return false;
}

void Runner::Show(const Statement& statement, const Outcome& outcome) {
  const Library& library = connection_.library();
  const Value& shown = statement.kind == Statement::Kind::kSet ? outcome.written : outcome.result;
  if (reporter_.json()) {
    nlohmann::json object;
    object["statement"] = statements_;
    object["path"] = statement.path.source;
    object["value"] = JsonValue(shown.value);
    object["vartype"] = VarTypeName(shown.value.vt);
    if (const std::string name = ConstantName(shown, library); !name.empty()) object["name"] = name;
    if (!outcome.out.empty()) {
      nlohmann::json out = nlohmann::json::object();
      for (const auto& [name, value] : outcome.out) out[name] = JsonValue(value.value);
      object["out"] = out;
    }
    reporter_.out() << JsonLine(object) << '\n' << std::flush;
    return;
  }
  std::ostream& out = reporter_.out();
  if (statement.kind != Statement::Kind::kSet && outcome.result.value.vt != VT_EMPTY) {
    if (labelled_) out << statement.path.source << " = ";
    out << PlainText(outcome.result, library) << '\n';
  } else if (labelled_ && !outcome.out.empty()) {
    // A set, or a call that returns nothing, is silent unless it hands arguments back: then say what they
    // belong to.
    out << statement.path.source;
    if (statement.kind == Statement::Kind::kSet) out << " <- " << PlainText(outcome.written, library);
    out << '\n';
  }
  for (const auto& [name, value] : outcome.out) {
    out << (labelled_ ? "  " : "") << name << " = " << PlainText(value, library) << '\n';
  }
  out << std::flush;
}

bool Runner::ShowErrors(int line) {
  const char* members[] = {"InstrumentErrors", "Warnings"};
  std::string texts[2];
  for (int i = 0; i < 2; ++i) {
    const Path path = ParsePath(std::string("Err.") + members[i]);
    try {
      Outcome outcome = connection_.evaluator().Run(connection_.Base(), path, Action::kGet);
      texts[i] = PlainText(outcome.result, connection_.library());
    } catch (const MemberFailure& e) {
      reporter_.MemberFailed(e.failure(), statements_, line, "errors");
      return false;
    } catch (const InputError& e) {
      reporter_.BadInput(e.what(), statements_, line, "errors");
      return false;
    }
  }
  if (reporter_.json()) {
    nlohmann::json object;
    object["statement"] = statements_;
    object["path"] = "errors";
    object["value"] = {{members[0], texts[0]}, {members[1], texts[1]}};
    reporter_.out() << JsonLine(object) << '\n' << std::flush;
    return true;
  }
  auto shown = [](std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text.empty() ? std::string("none") : text;
  };
  reporter_.out() << "Instrument errors: " << shown(texts[0]) << '\n'
                  << "Warnings: " << shown(texts[1]) << '\n'
                  << std::flush;
  return true;
}

int RunScript(Runner& runner, std::istream& in, bool stop_on_error) {
  bool failed = false;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (runner.ExecuteLine(text, line)) continue;
    failed = true;
    if (stop_on_error) break;
  }
  return failed ? 1 : 0;
}

}  // namespace pgx::cli
