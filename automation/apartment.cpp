#include "automation/apartment.h"

namespace {

// This thread's apartment: how many successful CoInitialize(Ex) calls are not yet balanced, and the kind.
struct ThreadApartment {
  unsigned long count = 0;
  bool single_threaded = false;
};
thread_local ThreadApartment t_apartment;

constexpr DWORD kKnownFlags = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

}  // namespace

HRESULT CoInitialize(void* reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void*, DWORD coinit) {
  if (coinit & ~kKnownFlags) return E_INVALIDARG;
  const bool single_threaded = (coinit & COINIT_APARTMENTTHREADED) != 0;
  ThreadApartment& a = t_apartment;
  if (a.count == 0) {
    a.count = 1;
    a.single_threaded = single_threaded;
    return S_OK;
  }
  if (a.single_threaded != single_threaded) return RPC_E_CHANGED_MODE;
  ++a.count;
  return S_FALSE;
}

void CoUninitialize() {
  ThreadApartment& a = t_apartment;
  if (a.count > 0) --a.count;
}

HRESULT CoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier) {
  if (!type || !qualifier) return E_INVALIDARG;
  *qualifier = APTTYPEQUALIFIER_NONE;
  if (t_apartment.count == 0) {
    *type = APTTYPE_CURRENT;
    return CO_E_NOTINITIALIZED;
  }
  *type = t_apartment.single_threaded ? APTTYPE_STA : APTTYPE_MTA;
  return S_OK;
}

namespace pgx::auto_ {

bool IsThreadInApartment() noexcept {
  return t_apartment.count > 0;
}

}  // namespace pgx::auto_
