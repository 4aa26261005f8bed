// pgxscan: lists the pulse generators that VISA can reach and what each one is.
//
// Every resource that matches the search expression is opened through the driver with an identity check;
// for each pulse generator of the family it prints the identity, the installed front-ends, the firmware
// revision, the self-test result and where it sits on its bus. Other instruments are listed as skipped.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/pgxgen.h"
#include "visa/visa.h"

namespace {

constexpr int kText = 256;

std::string driver_message(ViSession session, ViStatus status) {
  ViChar text[kText] = {};
  pgxgen_error_message(session, status, text);
  return text;
}

std::string visa_message(ViObject object, ViStatus status) {
  ViChar text[kText] = {};
  viStatusDesc(object, status, text);
  return text;
}

// Where the resource sits: GPIB address or VXI logical address and slot, when VISA knows them.
std::string bus_position(ViSession rm, const std::string& resource) {
  ViSession vi = VI_NULL;
  if (viOpen(rm, resource.c_str(), VI_NULL, 2500, &vi) < VI_SUCCESS) return {};
  std::string where;
  ViUInt16 type = 0;
  if (viGetAttribute(vi, VI_ATTR_INTF_TYPE, &type) == VI_SUCCESS) {
    ViUInt16 value = 0;
    if (type == VI_INTF_GPIB && viGetAttribute(vi, VI_ATTR_GPIB_PRIMARY_ADDR, &value) == VI_SUCCESS) {
      where = "GPIB address " + std::to_string(value);
    } else if (type == VI_INTF_VXI && viGetAttribute(vi, VI_ATTR_VXI_LA, &value) == VI_SUCCESS) {
      where = "VXI logical address " + std::to_string(value);
      ViInt16 slot = 0;
      if (viGetAttribute(vi, VI_ATTR_SLOT, &slot) == VI_SUCCESS) where += ", slot " + std::to_string(slot);
    }
  }
  viClose(vi);
  return where;
}

std::string query(ViSession session, const char* text) {
  ViChar answer[kText] = {};
  if (pgxgen_cmdString_Q(session, text, kText, answer) < VI_SUCCESS) return "?";
  return answer;
}

// Prints one pulse generator; returns false when the resource is not one of the family.
bool describe(ViSession rm, const std::string& resource) {
  ViSession session = VI_NULL;
  const ViStatus status = pgxgen_init(resource.c_str(), VI_TRUE, VI_FALSE, &session);
  if (status != VI_SUCCESS) {
    std::printf("  %-28s skipped: %s\n", resource.c_str(), driver_message(VI_NULL, status).c_str());
    if (status > VI_SUCCESS) pgxgen_close(session);
    return false;
  }
  ViChar driver_revision[kText] = {}, firmware[kText] = {}, self_test_text[kText] = {};
  ViInt16 self_test = 0;
  pgxgen_revision_query(session, driver_revision, firmware);
  const ViStatus test_status = pgxgen_self_test(session, &self_test, self_test_text);
  std::printf("  %-28s %s\n", resource.c_str(), query(session, "*IDN?").c_str());
  const std::string where = bus_position(rm, resource);
  if (!where.empty()) std::printf("  %-28s   on %s\n", "", where.c_str());
  std::printf("  %-28s   front-ends %s, firmware %s\n", "", query(session, "*OPT?").c_str(), firmware);
  if (test_status < VI_SUCCESS) {
    std::printf("  %-28s   self-test could not run: %s\n", "", driver_message(session, test_status).c_str());
  } else {
    std::printf("  %-28s   self-test %s (%d)\n", "", self_test == 0 ? "passed" : "FAILED", self_test);
  }
  pgxgen_close(session);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Lists the pulse generators that VISA can reach (by default the built-in simulated bench)."};
  std::string expression = "?*INSTR";
  app.add_option("-e,--expression", expression, "VISA search expression")->capture_default_str();
  std::vector<std::string> resources;
  app.add_option("resources", resources, "resource names to check instead of searching");
  CLI11_PARSE(app, argc, argv);

  ViSession rm = VI_NULL;
  ViStatus status = viOpenDefaultRM(&rm);
  if (status < VI_SUCCESS) {
    std::fprintf(stderr, "pgxscan: cannot open the VISA resource manager: %s\n",
                 visa_message(VI_NULL, status).c_str());
    return 1;
  }
  if (resources.empty()) {
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    ViChar name[VI_FIND_BUFLEN] = {};
    status = viFindRsrc(rm, expression.c_str(), &list, &count, name);
    if (status == VI_ERROR_RSRC_NFOUND) {
      std::printf("No resource matches \"%s\".\n", expression.c_str());
      viClose(rm);
      return 0;
    }
    if (status < VI_SUCCESS) {
      std::fprintf(stderr, "pgxscan: search \"%s\" failed: %s\n", expression.c_str(),
                   visa_message(rm, status).c_str());
      viClose(rm);
      return 1;
    }
    for (ViUInt32 i = 0; i < count; ++i) {
      resources.emplace_back(name);
      if (i + 1 < count && viFindNext(list, name) < VI_SUCCESS) break;
    }
    viClose(list);
  }

  std::printf("Resources (%zu):\n", resources.size());
  int found = 0;
  for (const std::string& resource : resources) found += describe(rm, resource) ? 1 : 0;
  std::printf("%d pulse generator%s found.\n", found, found == 1 ? "" : "s");
  viClose(rm);
  return 0;
}
