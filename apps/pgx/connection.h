// pgx's hold on the server: the registry and bench it uses, the root object created by ProgID through the
// runtime, its type library, and the one instrument opened for the whole run.
#pragma once

#include <string>

#include "apps/pgx/evaluator.h"
#include "apps/pgx/type_library.h"
#include "automation/comptr.h"
#include "automation/interfaces.h"

namespace pgx::cli {

// What the command line says about where and how to run.
struct Settings {
  std::string registry;  // --registry: the registry file; else PGX_REGISTRY, the user's, or the build's
  std::string bench;     // --bench: a bench file instead of the built-in bench
  std::string trace;     // --trace: the VISA I/O trace file
  std::string server;    // --server: the host (pgxd) to create the server on; empty for this machine
  bool verbose_errors = false;
  // Instrument.Open(IdQuery, ResetInstrument, AutoDetectErrors)
  bool id_query = true;
  bool reset = false;
  bool auto_detect = true;
};

// The registry file pgx uses: --registry, else PGX_REGISTRY, else the user's registry when it has
// Pgxsrv.PgxGen, else the registry of the build pgx belongs to when it has it. Exported as PGX_REGISTRY
// for the runtime. Throws InputError naming every file it looked at when none has the server.
std::string ChooseRegistry(const std::string& explicit_file);

class Connection {
 public:
  // Applies the settings to the environment, initialises the thread and creates Pgxsrv.PgxGen. Throws
  // InputError or MemberFailure.
  explicit Connection(const Settings& settings);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Finds TARGET (a number from 1, or a resource name) in Instruments and opens it with the settings'
  // options. Throws InputError for an unknown target, MemberFailure when the server fails.
  void Open(const std::string& target);

  IDispatch* Root() const { return root_.Get(); }
  IDispatch* Instrument() const { return instrument_.Get(); }
  // Where paths start: the opened instrument, or the root.
  IDispatch* Base() const { return instrument_ ? instrument_.Get() : root_.Get(); }
  const std::string& InstrumentName() const { return instrument_name_; }
  const Library& library() const { return library_; }
  const Evaluator& evaluator() const { return evaluator_; }
  const std::string& registry() const { return registry_; }

 private:
  struct Apartment {
    Apartment();
    ~Apartment();
  };

  Settings settings_;
  Apartment apartment_;  // first: the thread is initialised before the runtime is used at all
  std::string registry_;
  auto_::ComPtr<IDispatch> root_;
  Library library_;
  Evaluator evaluator_{library_};
  auto_::ComPtr<IDispatch> instrument_;
  std::string instrument_name_;
};

}  // namespace pgx::cli
