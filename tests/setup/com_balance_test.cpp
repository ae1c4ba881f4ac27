// Every return path of the three COM-using entry points stays balanced, and
// Uninstall_Exit does not touch COM.
#include <functional>

#include "setup_test_support.h"

namespace lanfeed::testing {
namespace {

class ComBalanceTest : public SetupTest {
 public:
  struct Path {
    const char* name;
    std::function<void(ComBalanceTest&)> prepare;
    std::function<void(ComBalanceTest&)> call;
    uint64_t expected_calls;  // CoInitializeEx calls, and as many CoUninitialize
  };

  static void Nothing(ComBalanceTest&) {}
};

TEST_F(ComBalanceTest, EveryEntryPathIsBalanced) {
  const Path paths[] = {
      {"Install_Init without Corvane", Nothing,
       [](ComBalanceTest& t) { Install_Init(t.window_, 1, 0, t.Package().c_str()); }, 1},
      {"Install_Init with Corvane", [](ComBalanceTest& t) { t.InstallCorvane(); },
       [](ComBalanceTest& t) { Install_Init(nullptr, 1, 0, t.Package().c_str()); }, 1},
      {"Install_Init later call", Nothing,
       [](ComBalanceTest& t) { Install_Init(nullptr, 0, 0, t.Package().c_str()); }, 1},
      {"Install_Exit", [](ComBalanceTest& t) { t.InstallCorvane(); t.StagePackage(); },
       [](ComBalanceTest& t) { Install_Exit(nullptr, t.Package().c_str(), 0, 0, 0, 0, 0); }, 1},
      {"Uninstall_Init cancelled", [](ComBalanceTest& t) { t.answer_ = kAnswerCancel; },
       [](ComBalanceTest& t) { Uninstall_Init(t.window_, nullptr); }, 1},
      {"Uninstall_Init without Corvane", Nothing,
       [](ComBalanceTest&) { Uninstall_Init(nullptr, nullptr); }, 1},
      {"Uninstall_Init deleting", [](ComBalanceTest& t) { t.InstallCorvane(); },
       [](ComBalanceTest& t) { Uninstall_Init(t.window_, nullptr); }, 1},
      {"Uninstall_Exit", Nothing, [](ComBalanceTest&) { Uninstall_Exit(nullptr); }, 0},
  };
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    setup::ResetStateForTesting();
    answer_ = kAnswerOk;
    path.prepare(*this);
    ComCallCounts before = ComCallCountsForTesting();
    path.call(*this);
    ComCallCounts after = ComCallCountsForTesting();
    EXPECT_EQ(after.initialize - before.initialize, path.expected_calls);
    EXPECT_EQ(after.uninitialize - before.uninitialize, path.expected_calls);
  }
}

// A thread that already lives in another apartment refuses the initialisation;
// the entry point must then not uninitialise the caller's COM.
TEST_F(ComBalanceTest, FailedInitialisationIsNotUndone) {
  InstallCorvane();
  FailComInitializeForTesting(true);
  ComCallCounts before = ComCallCountsForTesting();
  EXPECT_EQ(Install_Init(nullptr, 1, 0, Package().c_str()), setup::kInstallInitContinue);
  Install_Exit(nullptr, Package().c_str(), 0, 0, 0, 0, 0);
  Uninstall_Init(nullptr, nullptr);
  ComCallCounts after = ComCallCountsForTesting();
  EXPECT_EQ(after.initialize - before.initialize, 3u);
  EXPECT_EQ(after.uninitialize - before.uninitialize, 0u);
}

}  // namespace
}  // namespace lanfeed::testing
