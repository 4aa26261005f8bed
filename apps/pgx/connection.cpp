#include "apps/pgx/connection.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "automation/activation.h"
#include "automation/errorinfo.h"
#include "automation/hresult.h"
#include "automation/registry.h"

namespace pgx::cli {
namespace {

constexpr const char16_t* kProgId = u"Pgxsrv.PgxGen";

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool HasServer() {
  CLSID clsid;
  return CLSIDFromProgID(kProgId, &clsid) == S_OK;
}

std::string RegisterHint() {
#ifdef PGX_BUILD_MODULE
  const std::string module = FileExists(PGX_BUILD_MODULE) ? PGX_BUILD_MODULE : "MODULE";
#else
  const std::string module = "MODULE";
#endif
  return "register the server module with `pgxregsvr " + module +
         "`, or name a registry that has it with --registry FILE or PGX_REGISTRY";
}

// The thread's error information as text, or the system's text for the HRESULT.
std::string Describe(HRESULT hr) {
  IErrorInfo* info = nullptr;
  std::string text;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description))) text = Utf8(description);
    SysFreeString(description);
    info->Release();
  }
  if (text.empty()) {
    const char* system = auto_::SystemMessageText(hr);
    text = system ? system : "no description";
  }
  return text;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

std::string ChooseRegistry(const std::string& explicit_file) {
  std::vector<std::string> looked_at;
  auto use = [&](const std::string& file) {
    ::setenv("PGX_REGISTRY", file.c_str(), 1);
    looked_at.push_back(file);
    return HasServer();
  };
  if (!explicit_file.empty()) {
    if (!FileExists(explicit_file))
      throw InputError("the registry file " + explicit_file + " does not exist");
    if (use(explicit_file)) return explicit_file;
  } else if (const char* named = std::getenv("PGX_REGISTRY"); named && *named) {
    if (use(named)) return named;
  } else {
    const std::string user = auto_::RegistryPath();
    if (HasServer()) return user;
    looked_at.push_back(user);
#ifdef PGX_BUILD_REGISTRY
    // A pgx run from its build folder finds the server the build registered.
    if (FileExists(PGX_BUILD_REGISTRY) && use(PGX_BUILD_REGISTRY)) return PGX_BUILD_REGISTRY;
    ::unsetenv("PGX_REGISTRY");
#endif
  }
  std::string files;
  for (const std::string& file : looked_at) files += (files.empty() ? "" : ", ") + file;
  std::string problem = auto_::RegistryErrorText();
  throw InputError("Pgxsrv.PgxGen is not registered in " + files +
                   (problem.empty() ? "" : " (" + problem + ")") + ": " + RegisterHint());
}

Connection::Apartment::Apartment() {
  CoInitialize(nullptr);
}
Connection::Apartment::~Apartment() {
  CoUninitialize();
}

namespace {

// The registry matters only for a server created on this machine; on a host, the host's registry says.
std::string RegistryFor(const Settings& settings) {
  return settings.server.empty() ? ChooseRegistry(settings.registry) : std::string();
}

}  // namespace

Connection::Connection(const Settings& settings) : settings_(settings), registry_(RegistryFor(settings_)) {
  if (!settings_.server.empty()) {
    // The host's bench and trace are the host's: pgxd takes them from its own environment.
    if (!settings_.bench.empty() || !settings_.trace.empty())
      throw InputError(
          "--bench and --trace set up this machine; with --server, start pgxd with PGX_VISA_BENCH "
          "or PGX_VISA_TRACE instead");
    std::u16string name;
    for (char c : settings_.server) name += static_cast<char16_t>(static_cast<unsigned char>(c));
    COSERVERINFO info{0, name.data(), nullptr, 0};
    CLSID clsid;
    if (HRESULT hr = auto_::CLSIDFromProgIDOnServer(kProgId, &info, &clsid); FAILED(hr))
      throw MemberFailure(
          Failure{hr, Describe(hr), "", "CLSIDFromProgID(\"Pgxsrv.PgxGen\") on " + settings_.server});
    MULTI_QI qi{&IID_IDispatch, nullptr, S_OK};
    HRESULT hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi);
    if (SUCCEEDED(hr)) hr = qi.hr;
    if (FAILED(hr))
      throw MemberFailure(
          Failure{hr, Describe(hr), "", "CoCreateInstanceEx(Pgxsrv.PgxGen) on " + settings_.server});
    root_.Attach(static_cast<IDispatch*>(qi.pItf));
    library_ = Library::Of(root_.Get());
    if (settings_.verbose_errors) evaluator_.Run(root_.Get(), ParsePath("Err.Verbose"), Action::kSet, "True");
    return;
  }
  if (!settings_.bench.empty()) {
    if (!FileExists(settings_.bench))
      throw InputError("the bench file " + settings_.bench + " does not exist");
    ::setenv("PGX_VISA_BENCH", settings_.bench.c_str(), 1);
  }
  if (!settings_.trace.empty()) ::setenv("PGX_VISA_TRACE", settings_.trace.c_str(), 1);

  CLSID clsid;
  if (HRESULT hr = CLSIDFromProgID(kProgId, &clsid); FAILED(hr))
    throw MemberFailure(Failure{hr, Describe(hr), "", "CLSIDFromProgID(\"Pgxsrv.PgxGen\")"});
  if (HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    reinterpret_cast<void**>(root_.ReleaseAndGetAddressOf()));
      FAILED(hr))
    throw MemberFailure(Failure{hr, Describe(hr), "", "CoCreateInstance(Pgxsrv.PgxGen)"});
  library_ = Library::Of(root_.Get());
  if (settings_.verbose_errors) evaluator_.Run(root_.Get(), ParsePath("Err.Verbose"), Action::kSet, "True");
}

Connection::~Connection() {
  instrument_ = nullptr;
  library_ = Library();
  root_ = nullptr;
}

void Connection::Open(const std::string& target) {
  const bool by_number = IsNumber(target);
  if (!by_number && target.find_first_of("\"\\\n") != std::string::npos)
    throw InputError("\"" + target + "\" is neither an instrument number nor a resource name");
  const std::string key = by_number ? target : Quote(target);
  if (by_number && (target.size() > 9 || std::stol(target) < 1))
    throw InputError("instruments are numbered from 1 (pgx list shows them), not " + target);
  Outcome found = evaluator_.Run(root_.Get(), ParsePath("Instruments.Item(" + key + ")"), Action::kGet);
  IDispatch* instrument = found.result.value.vt == VT_DISPATCH ? found.result.value.pdispVal : nullptr;
  if (!instrument) {
    const LONG count =
        evaluator_.Run(root_.Get(), ParsePath("Instruments.Count"), Action::kGet).result.value.lVal;
    if (by_number) {
      throw InputError("there is no instrument " + target + ": the server found " + std::to_string(count) +
                       " (pgx list shows them)");
    }
    // Resource names are case-insensitive for VISA; Item compares them exactly.
    for (LONG i = 1; i <= count && !instrument; ++i) {
      Outcome item =
          evaluator_.Run(root_.Get(), ParsePath("Instruments.Item(" + std::to_string(i) + ")"), Action::kGet);
      if (item.result.value.vt != VT_DISPATCH || !item.result.value.pdispVal) continue;
      Outcome name = evaluator_.Run(item.result.value.pdispVal, ParsePath("Name"), Action::kGet);
      if (name.result.value.vt == VT_BSTR && SameName(Utf8(name.result.value.bstrVal), target))
        found = std::move(item);
      instrument = found.result.value.vt == VT_DISPATCH ? found.result.value.pdispVal : nullptr;
    }
    if (!instrument)
      throw InputError("no pulse generator " + target + " among the " + std::to_string(count) +
                       " the server found (pgx list shows them)");
  }
  instrument_ = auto_::ComPtr<IDispatch>(instrument);
  auto flag = [](bool on) { return on ? std::string("True") : std::string("False"); };
  Outcome opened = evaluator_.Run(
      instrument_.Get(),
      ParsePath("Open(IdQuery:=" + flag(settings_.id_query) + ", ResetInstrument:=" + flag(settings_.reset) +
                ", AutoDetectErrors:=" + flag(settings_.auto_detect) + ")"),
      Action::kGet);
  if (opened.result.value.vt == VT_BOOL && opened.result.value.boolVal == VARIANT_FALSE)
    throw InputError(target + " could not be opened: Instrument.Open answered False");
  if (settings_.verbose_errors)
    evaluator_.Run(instrument_.Get(), ParsePath("Err.Verbose"), Action::kSet, "True");
  instrument_name_ =
      Utf8(evaluator_.Run(instrument_.Get(), ParsePath("Name"), Action::kGet).result.value.bstrVal);
}

}  // namespace pgx::cli
