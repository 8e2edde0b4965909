#include "support/trace.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

// A failed check of the trace build travels to the entry's handler like any
// other failure, and its message says what failed where.
TEST(Trace, AFailedCheckIsAnExceptionNamingThePlace) {
  try {
    failCheck("index out of range", "src/convert/run_job.cpp", 42);
    ADD_FAILURE() << "no exception";
  } catch (const CheckException& e) {
    EXPECT_EQ(e.message(), "index out of range at src/convert/run_job.cpp:42");
  }
  EXPECT_THROW(failCheck("assertion failed: x", "f", 1), Exception);
}

// In the release build neither a trace line nor a check costs anything: the
// arguments are not even evaluated.
TEST(Trace, ReleaseBuildEvaluatesNothing) {
  if constexpr (kTraceBuild) GTEST_SKIP() << "trace build";
  int evaluated = 0;
  OutputCapture capture;
  VESK_TRACE("%.*s\n", std::to_string(++evaluated));
  VESK_CHECK(++evaluated == 0);
  EXPECT_EQ(evaluated, 0);
  EXPECT_EQ(capture.text(), "");
}

}  // namespace
}  // namespace vesk
