#include "apps/pgx/app.h"

#include <unistd.h>

#include <sys/stat.h>
#include <CLI/CLI.hpp>
#include <cctype>
#include <fstream>

#include "apps/pgx/commands.h"
#include "apps/pgx/connection.h"
#include "apps/pgx/output.h"
#include "apps/pgx/runner.h"
#include "apps/pgx/shell.h"

namespace pgx::cli {
namespace {

constexpr const char* kFooter = R"(
The options of pgx (--json, --registry, ...) may come before or after the command.
TARGET is an instrument's number in `pgx list` (from 1) or its VISA resource name (GPIB0::10::INSTR).
PATH is a chain of members, case-insensitive, with arguments in parentheses:
  Frequency   Channels.Item(2).Voltage.High   Trigger.Arm.Source   PulseMode(5)   Err.Text(0x8004046C)
Values are typed by the type library: numbers (2e6, -1.5e-9, 0x1F), True/False, "texts",
constants (PgxArmSourceExternal) and byte arrays ([1, 2, 255]). Quote a PATH with parentheses for the shell.

The server is created as "Pgxsrv.PgxGen" from the registry that --registry or PGX_REGISTRY names, else
from the user's registry, else from the registry of the build pgx comes from; with --server HOST[:PORT], by
the pgxd on that machine, from its registry (docs/remote.md).
Examples:
  pgx list
  pgx info 1
  pgx get 1 'Channels.Item(1).Voltage.High'
  pgx set GPIB0::10::INSTR Frequency 2e6
  pgx --json run 1 script.pgx
  pgx shell 1)";

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "1" or a resource name ("GPIB0::10::INSTR") rather than a script file.
bool LooksLikeTarget(const std::string& text) {
  if (!text.empty() && std::all_of(text.begin(), text.end(),
                                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return true;
  return text.find("::") != std::string::npos;
}

}  // namespace

int Main(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "pgx - drive the pulse generators through the automation server pgxsrv, late-bound by name,\n"
      "as a script does.",
      "pgx"};
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();

  Settings settings;
  bool json = false;
  app.add_flag("--json", json, "Print one JSON object per statement (or instrument) instead of text");
  app.add_option("--registry", settings.registry, "The registry file that has the server registered")
      ->type_name("FILE");
  app.add_option("--bench", settings.bench,
                 "A simulated bench file instead of the built-in bench (docs/bench.md)")
      ->type_name("FILE");
  app.add_option("--trace", settings.trace, "Write the VISA I/O trace to FILE (docs/io-trace.md)")
      ->type_name("FILE");
  app.add_option(
         "--server", settings.server,
         "Run on the pgxd of another machine: HOST or HOST:PORT (pgxs://HOST:PORT for TLS; docs/remote.md)")
      ->type_name("HOST[:PORT]");
  app.add_flag("--verbose-errors", settings.verbose_errors,
               "Name the failing call in error texts (Err.Verbose)");
  bool no_id_query = false, no_auto_detect = false;
  app.add_flag("--no-id-query", no_id_query, "Open the instrument without the identity query");
  app.add_flag("--reset", settings.reset, "Reset the instrument when opening it");
  app.add_flag("--no-auto-detect", no_auto_detect, "Do not query the instrument's errors after each call");

  std::string target, path, name;
  std::vector<std::string> words;
  bool stop_on_error = false;

  CLI::App* list = app.add_subcommand("list", "List the pulse generators the server finds");
  CLI::App* info = app.add_subcommand("info", "Open an instrument and show what it is");
  info->add_option("TARGET", target, "Instrument number or resource name")->required();
  CLI::App* get = app.add_subcommand("get", "Read a property (or call a method) and print its value");
  get->add_option("TARGET", target, "Instrument number or resource name")->required();
  get->add_option("PATH", path, "Member path from the instrument: Channels.Item(1).Voltage.High")->required();
  CLI::App* set = app.add_subcommand("set", "Set a property");
  set->add_option("TARGET", target, "Instrument number or resource name")->required();
  set->add_option("PATH", path, "Member path from the instrument: Trigger.Arm.Source")->required();
  set->add_option("VALUE", words, "The value: 2e6, True, PgxArmSourceExternal, \"text\", [1, 2]")->required();
  CLI::App* call = app.add_subcommand("call", "Call a method and print what it returns");
  call->add_option("TARGET", target, "Instrument number or resource name")->required();
  call->add_option("PATH", path, "Member path from the instrument: Reset, Channels.Refresh")->required();
  CLI::App* run = app.add_subcommand("run", "Run a script of statements on one instrument, in one process");
  run->add_option("ARGS", words, "[TARGET] [FILE|-]")->expected(0, 2);
  run->add_flag("--stop-on-error", stop_on_error, "Stop at the first failing line");
  CLI::App* shell = app.add_subcommand("shell", "Type statements interactively, with completion and history");
  shell->add_option("TARGET", target, "Instrument number or resource name (none: the root PgxGen)");
  CLI::App* errors = app.add_subcommand("errors", "Show an instrument's error queue and warnings");
  errors->add_option("TARGET", target, "Instrument number or resource name")->required();
  CLI::App* members =
      app.add_subcommand("members", "List the members of an interface (or the library's types)");
  members->add_option("INTERFACE", name, "IInstrument, Instrument, PgxArmSource, _ViAttributeInfo, ...");
  CLI::App* idl = app.add_subcommand("idl", "Print the server's type library as IDL");
  for (CLI::App* sub : {list, info, get, set, call, shell, errors, members, idl}) sub->footer(kFooter);
  run->footer(std::string(R"(
A script has one statement per line:
  get PATH            print a property (or what a method returns)
  set PATH VALUE      set a property (VALUE as in pgx set)
  call PATH           call a method
  errors              print Err.InstrumentErrors and Err.Warnings
Blank lines and lines starting with # are skipped. Every line runs in this one process on one opened
instrument, so settings carry from line to line. With TARGET, paths start at the opened instrument; without,
at the root PgxGen: get Instruments.Item("GPIB0::10::INSTR").Open(True). The script is FILE, or standard
input when FILE is - or missing. A failing line prints its error and the script goes on; the exit status
is 1 when any line failed.)") +
              kFooter);

  try {
    // CLI11 takes the arguments last one first.
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? 0 : 2;
  }
  settings.id_query = !no_id_query;
  settings.auto_detect = !no_auto_detect;

  Reporter reporter(out, err, json);
  try {
    std::ifstream script_file;
    std::istream* script = &in;
    if (run->parsed()) {
      // run [TARGET] [FILE|-]: one word is a script unless it names an instrument rather than a file.
      std::string file;
      if (words.size() == 2) {
        target = words[0];
        file = words[1];
      } else if (words.size() == 1) {
        (words[0] == "-" || IsFile(words[0]) || !LooksLikeTarget(words[0]) ? file : target) = words[0];
      }
      if (!file.empty() && file != "-") {
        script_file.open(file);
        if (!script_file) throw InputError("cannot read the script " + file);
        script = &script_file;
      }
    }

    Connection connection(settings);
    if (!target.empty()) connection.Open(target);
    if (list->parsed()) return ListInstruments(connection, reporter);
    if (info->parsed()) return ShowInfo(connection, reporter);
    if (members->parsed()) return ListMembers(connection.library(), name, reporter);
    if (idl->parsed()) return PrintIdl(connection.library(), reporter);
    if (run->parsed()) {
      Runner runner(connection, reporter, /*labelled=*/true);
      return RunScript(runner, *script, stop_on_error);
    }
    if (shell->parsed()) {
      const bool interactive = &in == &std::cin && &out == &std::cout && ::isatty(STDIN_FILENO);
      return RunShell(connection, reporter, in, interactive);
    }
    Runner runner(connection, reporter, /*labelled=*/false);
    Statement statement;
    if (errors->parsed()) {
      statement.kind = Statement::Kind::kErrors;
    } else {
      statement.kind = get->parsed()   ? Statement::Kind::kGet
                       : set->parsed() ? Statement::Kind::kSet
                                       : Statement::Kind::kCall;
      statement.path = ParsePath(path);
      for (const std::string& word : words) statement.value += (statement.value.empty() ? "" : " ") + word;
    }
    return runner.Execute(statement) ? 0 : 1;
  } catch (const MemberFailure& e) {
    reporter.MemberFailed(e.failure());
  } catch (const InputError& e) {
    reporter.BadInput(e.what());
  } catch (const std::exception& e) {
    reporter.BadInput(std::string("unexpected failure: ") + e.what());
  }
  return 1;
}

}  // namespace pgx::cli
