#pragma once
// The fixture of tests that talk to the default bench through the VISA API: a resource manager on the
// built-in bench (whatever PGX_VISA_BENCH says outside the test) and sessions opened by name.

#include <gtest/gtest.h>

#include <string>

#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa::testing {

class DefaultBenchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(rm.status(), VI_SUCCESS); }

  // Opens `name` (a failure fails the test and gives VI_NULL); the resource manager closes it at the end.
  ViSession open(const std::string& name) {
    ViSession vi = VI_NULL;
    EXPECT_EQ(viOpen(rm, name.c_str(), VI_NULL, 2500, &vi), VI_SUCCESS) << name;
    return vi;
  }

  ScopedEnv default_bench_{"PGX_VISA_BENCH", ""};
  ResourceManager rm;
};

}  // namespace pgx::visa::testing
