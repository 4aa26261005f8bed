// The server module's entry points: the class factory of PgxGen, the unload check and the registration.
#include "automation/module.h"
#include "automation/activation.h"
#include "automation/object.h"
#include "automation/registration.h"
#include "server/core/pgx_gen.h"
#include "server/pgxsrv_idl.h"

namespace {

pgx::auto_::ClassFactory<pgx::server::PgxGen> g_factory;

pgx::auto_::ClassRegistration Registration() {
  std::string module = pgx::auto_::ModulePathOf(reinterpret_cast<const void*>(&DllGetClassObject));
  std::u16string module_text;
  pgx::auto_::Utf8ToUtf16(module, module_text);
  pgx::auto_::ClassRegistration reg;
  reg.clsid = CLSID_PgxGen;
  reg.description = u"PgxGen Class";
  reg.progid = u"Pgxsrv.PgxGen.1";
  reg.version_independent = u"Pgxsrv.PgxGen";
  reg.threading_model = u"Apartment";
  reg.module_path = module;
  reg.library = &pgxsrv_TypeLibrary();
  // PgxGen is also an embeddable control.
  reg.extra_keys = {{u"Control", u""},
                    {u"Insertable", u""},
                    {u"ToolboxBitmap32", module_text + u", 103"},
                    {u"MiscStatus", u"0"},
                    {u"MiscStatus\\1", u"132497"}};
  return reg;
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_PgxGen) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() {
  return pgx::auto_::Module::CanUnloadNow();
}

// Registration and unregistration are one registry transaction each: all of it or nothing.
extern "C" HRESULT DllRegisterServer() {
  try {
    pgx::auto_::ClassRegistration reg = Registration();
    pgx::auto_::RegistryTransaction registration;
    pgx::auto_::RegisterClassKeys(registration, reg);
    pgx::auto_::RegisterTypeLibrary(registration, pgxsrv_TypeLibrary(), reg.module_path);
    return pgx::auto_::CommitRegistration(registration);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT DllUnregisterServer() {
  try {
    pgx::auto_::RegistryTransaction registration;
    pgx::auto_::UnregisterClassKeys(registration, Registration());
    pgx::auto_::UnregisterTypeLibrary(registration, pgxsrv_TypeLibrary());
    return pgx::auto_::CommitRegistration(registration);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
