// Every export of the setup library with each of its allocations failing in
// turn: none may throw (a throw out of an export would end the installer's
// process), and each still answers the installer with one of its own codes.
#include <functional>
#include <string>
#include <vector>

#include "tests/support/failing_allocation.h"
#include "setup/messages.h"
#include "setup_test_support.h"

namespace lanfeed::testing {
namespace {

// Far more than any export makes, even over the stand-ins of the Linux build.
constexpr long kMostAllocations = 5000;

TEST_F(SetupTest, NoExportThrowsWhenAnAllocationFails) {
  struct Case {
    const char* name;
    std::function<void(SetupTest&)> prepare;  // runs before the failure is armed
    std::function<int32_t(const WChar* package)> call;
    std::vector<int32_t> answers;
  };
  const Case cases[] = {
      {"Install_Init, first call",
       [](SetupTest&) { setup::ResetStateForTesting(); },
       [](const WChar* package) { return Install_Init(nullptr, 1, 0, package); },
       {setup::kInstallInitContinue, setup::kInstallInitCancel}},
      {"Install_Exit",
       [](SetupTest& t) {
         setup::ResetStateForTesting();
         t.StagePackage();
         const WString package = t.Package();
         EXPECT_EQ(Install_Init(nullptr, 1, 0, package.c_str()), setup::kInstallInitContinue);
       },
       [](const WChar* package) {
         return Install_Exit(nullptr, package, 0, 0, 0, 0, 0);
       },
       {setup::kInstallExitDone}},
      {"Uninstall_Init",
       [](SetupTest& t) {
         setup::ResetStateForTesting();
         t.PlaceInstalledFiles();
       },
       [](const WChar* package) { return Uninstall_Init(nullptr, package); },
       {setup::kUninstallInitContinue}},
      {"Uninstall_Exit",
       [](SetupTest& t) {
         setup::ResetStateForTesting();
         t.StagePackage();
         const WString package = t.Package();
         EXPECT_EQ(Uninstall_Init(nullptr, package.c_str()), setup::kUninstallInitContinue);
       },
       [](const WChar*) { return Uninstall_Exit(nullptr); },
       {setup::kUninstallExitDone}},
  };
  // The registry once: every SetValue adds to the fixture's registry.
  InstallCorvane();
  device_.SetValue(kPackageKeyPath, LF_TEXT("InstallDir"), Package());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool completed = false;
    for (long nth = 1; nth < kMostAllocations && !completed; ++nth) {
      c.prepare(*this);
      const WString package = Package();
      int32_t answer = -1;
      bool threw = false;
      {
        FailingAllocation failing(nth);
        try {
          answer = c.call(package.c_str());
        } catch (...) {
          threw = true;
        }
        completed = !failing.fired();
      }
      ASSERT_FALSE(threw) << "allocation " << nth << " failed with an exception";
      bool known = false;
      for (int32_t expected : c.answers) known = known || answer == expected;
      EXPECT_TRUE(known) << "allocation " << nth << ": answer " << answer;
    }
    EXPECT_TRUE(completed) << "more than " << kMostAllocations << " allocations";
  }
}

}  // namespace
}  // namespace lanfeed::testing
