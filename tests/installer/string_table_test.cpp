// Backends without resources read the launcher's strings from the table it
// registers; the texts must be those of the resource script.
#include <gtest/gtest.h>

#include "device_fixture.h"
#include "installer/launcher.h"
#include "installer/resource.h"
#include "platform/resources.h"

namespace lanfeed::testing {
namespace {

TEST(InstallerStrings, TitleAndClassNameAreRegistered) {
  installer::RegisterInstallerStrings();
  WChar text[installer::kStringCapacity];
  EXPECT_EQ(LoadStringResource(103, text, installer::kStringCapacity), 17);
  EXPECT_EQ(U8(text), "LanFeed_Installer");
  EXPECT_EQ(LoadStringResource(109, text, installer::kStringCapacity), 17);
  EXPECT_EQ(U8(text), "LANFEED_INSTALLER");
  EXPECT_EQ(LoadStringResource(104, text, installer::kStringCapacity), 0);
  EXPECT_EQ(text[0], 0);
}

TEST(InstallerStrings, LoadingCutsToTheBuffer) {
  installer::RegisterInstallerStrings();
  WChar text[8];
  EXPECT_EQ(LoadStringResource(IDS_APP_TITLE, text, 8), 7);
  EXPECT_EQ(U8(text), "LanFeed");
}

}  // namespace
}  // namespace lanfeed::testing
