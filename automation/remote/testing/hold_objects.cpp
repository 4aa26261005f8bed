// A client that creates the test server's widget on a host, takes two more objects from it, says so on
// standard output ("holding 3") and then waits to be killed: the host must release what it held.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "automation/apartment.h"
#include "automation/client.h"
#include "automation/remote/testing/host_process.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  pgx::auto_::ApartmentScope apartment;
  const std::string server = argv[1];
  IDispatch* widget = nullptr;
  if (FAILED(pgx::remote::testing::CreateWidget(std::u16string(server.begin(), server.end()), &widget)))
    return 1;
  pgx::auto_::DispatchPtr w(widget);
  widget->Release();
  pgx::auto_::Variant child = w.InvokeByName(u"Child", DISPATCH_PROPERTYGET);
  pgx::auto_::Variant item = w.InvokeByName(u"Item", DISPATCH_PROPERTYGET, {pgx::auto_::Variant(LONG{2})});
  std::printf("holding 3\n");
  std::fflush(stdout);
  for (;;) ::pause();
}
