// Creating objects on a remote host: what CoCreateInstanceEx does for a server name. The runtime loads
// this library only then, so local activation never brings in Cap'n Proto.
#include <cstdlib>

#include "automation/activation.h"
#include "automation/apartment.h"
#include "automation/errorinfo.h"
#include "automation/remote/connection.h"
#include "automation/remote/host.h"
#include "automation/remote/proxy.h"
#include "automation/remote/small_file.h"
#include "automation/remote/wire_variant.h"

namespace pgx::remote {
namespace {

HRESULT Raise(HRESULT hr, const std::string& what) {
  const char* system = pgx::auto_::SystemMessageText(hr);
  std::string text = system ? std::string(system) + " (" + what + ")" : what;
  return pgx::auto_::RaiseError(hr, IID_NULL, u"", pgx::auto_::Utf8OrLatin1ToUtf16(text));
}

// The token a client presents: the password of the authentication identity when one is given, else the
// token of the file PGX_REMOTE_TOKEN_FILE names, else none.
bool ClientToken(const COSERVERINFO& info, std::string& token) {
  token.clear();
  if (info.pAuthInfo && info.pAuthInfo->pAuthIdentityData && info.pAuthInfo->pAuthIdentityData->Password) {
    const COAUTHIDENTITY& id = *info.pAuthInfo->pAuthIdentityData;
    return pgx::auto_::Utf16ToUtf8(std::u16string_view(id.Password, id.PasswordLength), token);
  }
  const char* path = std::getenv("PGX_REMOTE_TOKEN_FILE");
  if (!path || !*path) return true;
  std::string error;
  return ReadTokenFile(path, token, error);
}

// An open connection of this thread to the host `info` names.
HRESULT ConnectionTo(const COSERVERINFO& info, std::shared_ptr<Connection>& out) {
  std::string name;
  if (!pgx::auto_::Utf16ToUtf8(info.pwszName, name)) return E_INVALIDARG;
  ServerName server;
  std::string error;
  if (!ParseServerName(name, kDefaultPort, server, error)) return Raise(E_INVALIDARG, error);
  std::vector<ResolvedAddress> addresses;
  if (!Resolve(server, false, addresses, error))
    return Raise(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), error);
  bool tls = server.security == Security::tls;
  if (server.security == Security::automatic) {
    for (const auto& a : addresses) tls = tls || !a.is_loopback();
  }
  std::string token;
  if (!ClientToken(info, token)) {
    return Raise(E_ACCESSDENIED, "cannot read the token file PGX_REMOTE_TOKEN_FILE names");
  }
  ThreadRpc& thread = ThreadRpc::Current();
  thread.DropOrphans();
  const std::string key =
      (tls ? "tls " : "plain ") + addresses.front().ToString() + " " + server.host + " " + token;
  out = thread.Find(key);
  if (out) return S_OK;
  auto connection = std::make_shared<Connection>(thread, name);
  HRESULT hr = connection->Open(addresses, server.host, tls, token);
  if (FAILED(hr)) return hr;
  thread.Remember(key, connection);
  out = std::move(connection);
  return S_OK;
}

}  // namespace
}  // namespace pgx::remote

using pgx::remote::Connection;
using pgx::remote::wire::Activator;

extern "C" __attribute__((visibility("default"))) HRESULT PgxRemoteCreateInstance(REFCLSID clsid,
                                                                                  const COSERVERINFO* info,
                                                                                  IUnknown** out) {
  if (!info || !info->pwszName || !out) return E_INVALIDARG;
  *out = nullptr;
  if (!pgx::auto_::IsThreadInApartment()) return CO_E_NOTINITIALIZED;
  try {
    std::shared_ptr<Connection> connection;
    HRESULT hr = pgx::remote::ConnectionTo(*info, connection);
    if (FAILED(hr)) return hr;
    auto request = connection->activator().createInstanceRequest();
    pgx::remote::EncodeGuid(clsid, request.initClsid());
    kj::Maybe<capnp::Response<Activator::CreateInstanceResults>> response;
    hr = connection->Wait(request.send(), response);
    if (FAILED(hr)) return hr;
    KJ_IF_MAYBE (r, response) {
      hr = r->getHresult();
      if (FAILED(hr)) {
        EXCEPINFO excep{};
        pgx::remote::DecodeExcepInfo(r->getError(), excep);
        pgx::auto_::RaiseError(hr, GUID_NULL, pgx::auto_::BstrView(excep.bstrSource),
                               pgx::auto_::BstrView(excep.bstrDescription));
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        return hr;
      }
      auto proxy = pgx::remote::RemoteDispatch::Make(connection, r->getObject());
      *out = static_cast<IDispatch*>(proxy.Detach());
      connection->thread().TakeKept();  // the object holds the connection now
      return S_OK;
    }
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  }
}

extern "C" __attribute__((visibility("default"))) HRESULT PgxRemoteCLSIDFromProgID(LPCOLESTR progid,
                                                                                   const COSERVERINFO* info,
                                                                                   LPCLSID clsid) {
  if (!info || !info->pwszName || !progid || !clsid) return E_INVALIDARG;
  try {
    std::shared_ptr<Connection> connection;
    HRESULT hr = pgx::remote::ConnectionTo(*info, connection);
    if (FAILED(hr)) return hr;
    auto request = connection->activator().clsidFromProgIdRequest();
    request.setProgId(pgx::remote::Utf16Bytes(progid));
    kj::Maybe<capnp::Response<Activator::ClsidFromProgIdResults>> response;
    hr = connection->Wait(request.send(), response);
    if (FAILED(hr)) return hr;
    KJ_IF_MAYBE (r, response) {
      hr = r->getHresult();
      if (SUCCEEDED(hr) && !pgx::remote::DecodeGuid(r->getClsid(), *clsid))
        hr = RPC_E_CLIENT_CANTUNMARSHAL_DATA;
      if (SUCCEEDED(hr)) connection->thread().Keep(connection);
      return hr;
    }
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
