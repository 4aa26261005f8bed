// What goes wrong between a client and its host, and what each side makes of it: a host that is not
// there or dies mid-call, a client that dies holding objects, a wrong token, an address the host must not
// serve without protection, bytes that are not Cap'n Proto, several clients at once, TLS, and objects
// used or released on the wrong thread.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "automation/activation.h"
#include "automation/apartment.h"
#include "automation/client.h"
#include "automation/com_error.h"
#include "automation/errorinfo.h"
#include "automation/member_chain.h"
#include "automation/remote/proxy.h"
#include "automation/remote/testing/host_process.h"
#include "automation/testing/testsrv_idl.h"

namespace {

using pgx::auto_::ComPtr;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;
using pgx::remote::testing::CreateWidget;
using pgx::remote::testing::HostProcess;
using pgx::remote::testing::ThreadHost;
using Clock = std::chrono::steady_clock;

constexpr HRESULT kServerUnavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

// A private folder for the test's files, removed with everything in it at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = ::testing::TempDir() + "pgx-remote-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  operator const std::string&() const { return path_; }
  std::string operator+(const char* name) const { return path_ + name; }

 private:
  std::string path_;
};

std::string WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path) << text;
  ::chmod(path.c_str(), mode);
  return path;
}

// The server module's own answer to "may I be unloaded": S_OK once no object of it lives.
HRESULT TestServerCanUnloadNow() {
  void* module = ::dlopen(PGX_TESTSRV_MODULE, RTLD_NOW | RTLD_NOLOAD);
  if (!module) return E_UNEXPECTED;
  auto can_unload = reinterpret_cast<HRESULT (*)()>(::dlsym(module, "DllCanUnloadNow"));
  HRESULT hr = can_unload ? can_unload() : E_UNEXPECTED;
  ::dlclose(module);
  return hr;
}

bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

class RemoteFaultTest : public ::testing::Test {
 protected:
  pgx::auto_::ApartmentScope apartment_;
};

TEST_F(RemoteFaultTest, AHostThatIsNotThereIsUnavailableAtOnce) {
  // A port that was free a moment ago: nothing listens there.
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t length = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
  ::close(s);
  const auto start = Clock::now();
  ComPtr<IDispatch> widget;
  EXPECT_EQ(CreateWidget(Wide("127.0.0.1:" + std::to_string(ntohs(addr.sin_port))),
                         widget.ReleaseAndGetAddressOf()),
            kServerUnavailable);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR text = nullptr;
  info->GetDescription(&text);
  EXPECT_NE(pgx::auto_::BstrView(text).find(u"The RPC server is unavailable."), std::u16string_view::npos);
  SysFreeString(text);
  info->Release();
}

TEST_F(RemoteFaultTest, APeerThatNeverAnswersIsUnavailableWithinTheTimeOut) {
  // Something accepts the connection and says nothing, as a hung machine would.
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(s, 4), 0);
  socklen_t length = sizeof addr;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
  ::setenv("PGX_REMOTE_TIMEOUT", "1", 1);
  const auto start = Clock::now();
  ComPtr<IDispatch> widget;
  EXPECT_EQ(CreateWidget(Wide("127.0.0.1:" + std::to_string(ntohs(addr.sin_port))),
                         widget.ReleaseAndGetAddressOf()),
            kServerUnavailable);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  ::unsetenv("PGX_REMOTE_TIMEOUT");
  ::close(s);
}

TEST_F(RemoteFaultTest, AHostKilledDuringACallDisconnectsItsObjects) {
  HostProcess host;
  ASSERT_TRUE(host.listening());
  ComPtr<IDispatch> widget;
  ASSERT_EQ(CreateWidget(host.server_name(), widget.ReleaseAndGetAddressOf()), S_OK);
  DispatchPtr w(widget.Get());
  Variant child = w.InvokeByName(u"Child", DISPATCH_PROPERTYGET);
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    host.Kill();
  });
  const auto start = Clock::now();
  HRESULT hr = S_OK;
  try {
    w.InvokeByName(u"Pause", DISPATCH_METHOD, {Variant(LONG{20000})});
  } catch (const pgx::auto_::com_error& e) {
    hr = e.Error();
  }
  killer.join();
  EXPECT_EQ(hr, RPC_E_DISCONNECTED);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  // Every object of that host answers the same from now on, and can still be released.
  DispatchPtr c(child.pdispVal);
  EXPECT_THROW(c.InvokeByName(u"Index", DISPATCH_PROPERTYGET), pgx::auto_::com_error);
  VARIANT out;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(widget->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out, nullptr, nullptr),
            RPC_E_DISCONNECTED);
}

TEST_F(RemoteFaultTest, AClientKilledWhileHoldingObjectsHasThemReleased) {
  ThreadHost host;
  ASSERT_FALSE(host.address().empty()) << host.error();
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(out[1], 1);
    ::execl(PGX_HOLD_OBJECTS, PGX_HOLD_OBJECTS, host.address().c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  char said[32] = {};
  const ssize_t n = ::read(out[0], said, sizeof said - 1);
  ::close(out[0]);
  EXPECT_EQ(std::string(said, n > 0 ? static_cast<std::size_t>(n) : 0), "holding 3\n");
  EXPECT_EQ(TestServerCanUnloadNow(), S_FALSE);  // the widget and two children live in the host
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(Eventually([] { return TestServerCanUnloadNow() == S_OK; }));
}

TEST_F(RemoteFaultTest, AWrongTokenIsRefusedAndTheRightOneServed) {
  const TempFolder folder;
  const std::string token = "0123456789abcdef-not-a-guess";
  // Both ends read the token file's first line, whatever follows it.
  HostProcess host(
      {"--token-file", WriteFile(folder + "/token", token + " \r\nkept for the ops team\n", 0600)});
  ASSERT_TRUE(host.listening());
  ComPtr<IDispatch> widget;
  EXPECT_EQ(CreateWidget(host.server_name(), widget.ReleaseAndGetAddressOf(), u"0123456789abcdef-guess"),
            E_ACCESSDENIED);
  EXPECT_EQ(CreateWidget(host.server_name(), widget.ReleaseAndGetAddressOf()),
            E_ACCESSDENIED);  // none at all
  EXPECT_TRUE(host.WaitForLine("refused: wrong token"));
  ASSERT_EQ(CreateWidget(host.server_name(), widget.ReleaseAndGetAddressOf(), Wide(token)), S_OK);
  EXPECT_EQ(DispatchPtr(widget.Get()).InvokeByName(u"Name", DISPATCH_PROPERTYGET).AsUtf8(), "widget");
  // The token may come from the file PGX_REMOTE_TOKEN_FILE names instead.
  ::setenv("PGX_REMOTE_TOKEN_FILE", (folder + "/token").c_str(), 1);
  std::thread([&] {
    pgx::auto_::ApartmentScope apartment;
    ComPtr<IDispatch> other;
    EXPECT_EQ(CreateWidget(host.server_name(), other.ReleaseAndGetAddressOf()), S_OK);
  }).join();
  ::unsetenv("PGX_REMOTE_TOKEN_FILE");
}

struct StartCase {
  const char* name;
  std::vector<std::string> args;  // {token} stands for a good token file
  const char* says;
};

TEST_F(RemoteFaultTest, TheHostRefusesToStartUnprotectedBeyondLoopback) {
  const TempFolder folder;
  const std::string good = WriteFile(folder + "/good", "0123456789abcdef0123\n", 0600);
  const std::string open = WriteFile(folder + "/open", "0123456789abcdef0123\n", 0644);
  const std::string shortish = WriteFile(folder + "/short", "secret\n", 0600);
  const std::string huge = WriteFile(folder + "/huge", std::string(5000, 'x'), 0600);
  const StartCase cases[] = {
      {"no token", {"--listen", "0.0.0.0:0"}, "without a token"},
      {"no TLS", {"--listen", "0.0.0.0:0", "--token-file", good}, "without TLS"},
      {"a token file others can read", {"--token-file", open}, "can be read by others"},
      {"a short token", {"--token-file", shortish}, "shorter than 16 characters"},
      {"a token file larger than any token", {"--token-file", huge}, "longer than 4096 bytes"},
      {"a certificate without its key", {"--tls-cert", good}, "both a certificate and its private key"},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    HostProcess host(c.args);
    EXPECT_FALSE(host.listening());
    EXPECT_TRUE(host.WaitForLine(c.says));
    EXPECT_EQ(host.Stop(), 2);
  }
}

TEST_F(RemoteFaultTest, GarbageOnThePortLeavesTheHostServingOthers) {
  HostProcess host;
  ASSERT_TRUE(host.listening());
  const auto colon = host.address().rfind(':');
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(std::stoi(host.address().substr(colon + 1))));
  std::mt19937 random(17);
  // One peer sends noise and goes; one claims a huge message and stays; one sends noise and stays.
  std::vector<int> peers;
  for (int kind = 0; kind < 3; ++kind) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::string bytes(4096, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    if (kind == 1) bytes = std::string("\x00\x00\x00\x00\xff\xff\xff\x0f", 8);
    ASSERT_EQ(::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    if (kind == 0) {
      ::close(s);
    } else {
      peers.push_back(s);
    }
  }
  ComPtr<IDispatch> widget;
  ASSERT_EQ(CreateWidget(host.server_name(), widget.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(DispatchPtr(widget.Get()).InvokeByName(u"Flags", DISPATCH_METHOD).AsLong(), 102);
  for (int s : peers) ::close(s);
  EXPECT_TRUE(host.Running());
  EXPECT_TRUE(host.WaitForLine("failure: "));
  EXPECT_TRUE(host.WaitForLine("disconnected after"));
}

TEST_F(RemoteFaultTest, SeveralClientsAtOnceKeepTheirOwnObjects) {
  HostProcess host;
  ASSERT_TRUE(host.listening());
  constexpr int kClients = 5;
  std::atomic<int> wrong{0};
  std::atomic<int> slow_answer{0};
  std::vector<std::thread> clients;
  for (int k = 0; k < kClients; ++k) {
    clients.emplace_back([&, k] {
      pgx::auto_::ApartmentScope apartment;
      ComPtr<IDispatch> widget;
      if (FAILED(CreateWidget(host.server_name(), widget.ReleaseAndGetAddressOf()))) {
        ++wrong;
        return;
      }
      DispatchPtr w(widget.Get());
      try {
        if (k == 0) {
          // A slow call of one client while the others go on.
          slow_answer = w.InvokeByName(u"Pause", DISPATCH_METHOD, {Variant(LONG{400})}).AsLong();
          return;
        }
        for (LONG i = 0; i < 40; ++i) {
          w.InvokeByName(u"Count", DISPATCH_PROPERTYPUT, {Variant(LONG{k * 1000 + i})});
          if (w.InvokeByName(u"Count", DISPATCH_PROPERTYGET).AsLong() != k * 1000 + i) ++wrong;
        }
      } catch (const pgx::auto_::com_error&) {
        ++wrong;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(slow_answer, 400);
  EXPECT_TRUE(host.WaitForLine("disconnected after"));
}

TEST_F(RemoteFaultTest, ObjectsStayOnTheThreadThatReceivedThem) {
  ThreadHost host;
  ASSERT_FALSE(host.address().empty()) << host.error();
  ComPtr<IDispatch> widget;
  ASSERT_EQ(CreateWidget(host.server_name(), widget.ReleaseAndGetAddressOf()), S_OK);
  Variant child = DispatchPtr(widget.Get()).InvokeByName(u"Child", DISPATCH_PROPERTYGET);
  std::thread([&] {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT out;
    EXPECT_EQ(widget->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out, nullptr, nullptr),
              RPC_E_WRONG_THREAD);
    // Released here, let go of on its own thread.
    child.Clear();
  }).join();
  EXPECT_EQ(DispatchPtr(widget.Get()).InvokeByName(u"Name", DISPATCH_PROPERTYGET).AsUtf8(), "widget");
  widget.Reset();
  EXPECT_TRUE(Eventually([] { return TestServerCanUnloadNow() == S_OK; }));

  // A thread that ends with objects: they are released on the host, and the proxies left behind stay
  // releasable.
  ComPtr<IDispatch> left_behind;
  std::thread([&] {
    pgx::auto_::ApartmentScope apartment;
    CreateWidget(host.server_name(), left_behind.ReleaseAndGetAddressOf());
  }).join();
  ASSERT_TRUE(left_behind);
  EXPECT_TRUE(Eventually([] { return TestServerCanUnloadNow() == S_OK; }));
  left_behind.Reset();
}

TEST_F(RemoteFaultTest, TlsWithATrustedCertificate) {
  const TempFolder folder;
  const std::string cert = folder + "/host.pem";
  const std::string key = folder + "/host.key";
  const std::string make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost"
      " -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
      key + " -out " + cert + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0) << "openssl could not make a certificate";
  const std::string token = "a-token-for-the-tls-host";
  HostProcess host(
      {"--tls-cert", cert, "--tls-key", key, "--token-file", WriteFile(folder + "/token", token, 0600)});
  ASSERT_TRUE(host.listening());
  const std::string port = host.address().substr(host.address().rfind(':') + 1);
  // Each attempt on a thread of its own: a thread reads the trusted certificates once.
  auto attempt = [&](const std::string& server, const char* ca) {
    HRESULT hr = E_FAIL;
    std::thread([&] {
      if (ca) {
        ::setenv("PGX_REMOTE_CA", ca, 1);
      } else {
        ::unsetenv("PGX_REMOTE_CA");
      }
      pgx::auto_::ApartmentScope apartment;
      ComPtr<IDispatch> widget;
      hr = CreateWidget(Wide(server), widget.ReleaseAndGetAddressOf(), Wide(token));
      if (SUCCEEDED(hr))
        hr = DispatchPtr(widget.Get()).InvokeByName(u"Name", DISPATCH_PROPERTYGET).AsUtf8() == "widget"
                 ? S_OK
                 : E_FAIL;
    }).join();
    ::unsetenv("PGX_REMOTE_CA");
    return hr;
  };
  EXPECT_EQ(attempt("pgxs://localhost:" + port, cert.c_str()), S_OK);
  EXPECT_EQ(attempt("pgxs://localhost:" + port, nullptr), kServerUnavailable);  // not trusted
  EXPECT_EQ(attempt("pgx://127.0.0.1:" + port, nullptr), kServerUnavailable);   // not TLS at all
  EXPECT_TRUE(host.WaitForLine("TLS handshake failed"));
}

TEST_F(RemoteFaultTest, CreateInstanceExAnswersEachInterfaceAsked) {
  ThreadHost host;
  ASSERT_FALSE(host.address().empty()) << host.error();
  std::u16string name = host.server_name();
  COSERVERINFO info{0, name.data(), nullptr, 0};
  const IID bogus = {0x12345678, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
  struct QiCase {
    const char* name;
    COSERVERINFO* server;
    DWORD context;
    HRESULT expected;
    HRESULT widget_interface;  // what IWidget itself answers
  };
  const QiCase cases[] = {
      {"in process", nullptr, CLSCTX_INPROC_SERVER, CO_S_NOTALLINTERFACES, S_OK},
      {"on the host", &info, CLSCTX_REMOTE_SERVER, CO_S_NOTALLINTERFACES, E_NOINTERFACE},
      {"a name without the remote context stays local", &info, CLSCTX_INPROC_SERVER, CO_S_NOTALLINTERFACES,
       S_OK},
  };
  for (const QiCase& c : cases) {
    SCOPED_TRACE(c.name);
    MULTI_QI qi[3] = {{&IID_IDispatch, nullptr, 0}, {&IID_IWidget, nullptr, 0}, {&bogus, nullptr, 0}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_Widget, nullptr, c.context, c.server, 3, qi), c.expected);
    EXPECT_EQ(qi[0].hr, S_OK);
    EXPECT_EQ(qi[1].hr, c.widget_interface);
    EXPECT_EQ(qi[2].hr, E_NOINTERFACE);
    for (auto& q : qi) {
      if (q.pItf) q.pItf->Release();
    }
  }
  MULTI_QI one{&IID_IDispatch, nullptr, 0};
  IUnknown* outer = reinterpret_cast<IUnknown*>(&one);  // never called
  EXPECT_EQ(CoCreateInstanceEx(CLSID_Widget, outer, CLSCTX_REMOTE_SERVER, &info, 1, &one),
            CLASS_E_NOAGGREGATION);
  std::u16string bad = u"host:port:more";
  COSERVERINFO bad_info{0, bad.data(), nullptr, 0};
  EXPECT_EQ(CoCreateInstanceEx(CLSID_Widget, nullptr, CLSCTX_REMOTE_SERVER, &bad_info, 1, &one),
            E_INVALIDARG);
  const CLSID unknown = {0x0badc0de, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(CoCreateInstanceEx(unknown, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &one), REGDB_E_CLASSNOTREG);
  CLSID clsid{};
  EXPECT_EQ(pgx::auto_::CLSIDFromProgIDOnServer(u"TestSrv.Widget", &info, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_Widget);
  std::thread([&] {
    MULTI_QI qi{&IID_IDispatch, nullptr, 0};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_Widget, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi),
              CO_E_NOTINITIALIZED);
  }).join();
}

// A chain of members goes to the host as one call; a host that cannot take one gets the steps one by one,
// pipelined. Either way the outcome is the same, and the objects between the steps do not outlive it.
TEST_F(RemoteFaultTest, AChainHasTheSameOutcomeOnTheHostOrStepByStep) {
  ThreadHost host;
  ASSERT_FALSE(host.address().empty()) << host.error();
  struct ChainCase {
    const char* name;
    std::vector<std::pair<std::u16string, std::vector<Variant>>> steps;
    HRESULT hr;
    UINT failed_step;
    std::string outcome;  // the value's type and value, or the exception's description
  };
  const ChainCase cases[] = {
      {"four steps",
       {{u"Item", {Variant(LONG{2})}}, {u"Parent", {}}, {u"Child", {}}, {u"Index", {}}},
       S_OK,
       0,
       "3 0"},
      {"an object at the end", {{u"Item", {Variant(LONG{2})}}}, S_OK, 0, "9 object"},
      {"the first step raises",
       {{u"Item", {Variant(LONG{8})}}, {u"Parent", {}}},
       DISP_E_EXCEPTION,
       0,
       "Index out of range"},
      {"a value before the end",
       {{u"Item", {Variant(LONG{1})}}, {u"Index", {}}, {u"Child", {}}},
       DISP_E_TYPEMISMATCH,
       1,
       ""},
      {"an unknown member",
       {{u"Item", {Variant(LONG{2})}}, {u"NoSuchMember", {}}},
       DISP_E_UNKNOWNNAME,
       1,
       ""},
      {"the last step raises",
       {{u"Item", {Variant(LONG{2})}},
        {u"Parent", {}},
        {u"Fail", {Variant(static_cast<LONG>(0x80040333)), Variant(u"in a chain")}}},
       DISP_E_EXCEPTION,
       2,
       "in a chain"},
  };
  for (const bool on_host : {true, false}) {
    ComPtr<IDispatch> widget;
    ASSERT_EQ(CreateWidget(host.server_name(), widget.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IUnknown> identity;
    ASSERT_EQ(widget->QueryInterface(pgx::remote::IID_RemoteDispatchIdentity,
                                     identity.ReleaseAndGetAddressOfVoid()),
              S_OK);
    auto* proxy = static_cast<pgx::remote::RemoteDispatch*>(static_cast<void*>(identity.Get()));
    proxy->connection()->set_host_runs_chains(on_host);
    ComPtr<pgx::auto_::IMemberChain> chain;
    ASSERT_EQ(widget->QueryInterface(pgx::auto_::IID_IMemberChain, chain.ReleaseAndGetAddressOfVoid()), S_OK);
    for (const ChainCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (on_host ? " on the host" : " step by step"));
      std::vector<pgx::auto_::MemberStep> steps;
      for (const auto& [name, args] : c.steps)
        steps.push_back({name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args});
      VARIANT result;
      EXCEPINFO excep{};
      UINT failed = 99;
      const HRESULT hr =
          chain->InvokeChain(steps.data(), static_cast<UINT>(steps.size()), &result, &excep, &failed);
      EXPECT_EQ(hr, c.hr);
      if (FAILED(hr)) {
        EXPECT_EQ(failed, c.failed_step);
        std::string description;
        if (excep.bstrDescription)
          pgx::auto_::Utf16ToUtf8(pgx::auto_::BstrView(excep.bstrDescription), description);
        EXPECT_EQ(description, c.outcome);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        continue;
      }
      Variant value = Variant::Attach(result);
      EXPECT_EQ(std::to_string(value.vt) + " " +
                    (value.vt == VT_DISPATCH ? std::string(value.pdispVal ? "object" : "null")
                                             : std::to_string(value.lVal)),
                c.outcome);
    }
    chain.Reset();
    identity.Reset();
    widget.Reset();
    // Nothing of the chains stays on the host.
    EXPECT_TRUE(Eventually([] { return TestServerCanUnloadNow() == S_OK; }));
  }
}

}  // namespace
