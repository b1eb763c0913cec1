// main.cpp - runs the module's tests with the recording OS layer installed
// and the test host emptied before every test.
#include <gtest/gtest.h>

#include "support/test_host.h"
#include "support/test_os.h"

namespace {

class ResetHost : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo &) override {
    zz::test::host().reset();
    zz::test::test_os().reset();
  }
};

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  zz::os::install(&zz::test::test_os());
  testing::UnitTest::GetInstance()->listeners().Append(new ResetHost);
  return RUN_ALL_TESTS();
}
