#include "platform/macos/portable/os_version.h"

#include <gtest/gtest.h>

#include "commands/version_command.h"
#include "unit/windows/windows_fixture.h"
#include "windows/titlebar.h"

namespace kestrove::platform::macos {
namespace {

bool sameVersion(const OsVersion& a, const OsVersion& b) {
  return a.major == b.major && a.minor == b.minor && a.patch == b.patch;
}

TEST(MacOsVersion, OnlyTheCompatibilityMajorSixteenIsReportedAsTwentySix) {
  struct Case {
    OsVersion fromProcessInfo;
    OsVersion reported;
  };
  const Case cases[] = {
      {{16, 0, 0}, {26, 0, 0}},   {{16, 1, 2}, {26, 1, 2}}, {{12, 7, 6}, {12, 7, 6}},
      {{15, 7, 1}, {15, 7, 1}},   {{26, 0, 1}, {26, 0, 1}}, {{27, 0, 0}, {27, 0, 0}},
      {{10, 16, 0}, {10, 16, 0}}, {{17, 0, 0}, {17, 0, 0}},
  };
  for (const Case& c : cases) {
    const OsVersion got = reportedOsVersion(c.fromProcessInfo);
    EXPECT_TRUE(sameVersion(got, c.reported))
        << c.fromProcessInfo.major << "." << c.fromProcessInfo.minor << " gave " << got.major << "."
        << got.minor << "." << got.patch;
  }
}

// What the mapping is for: on macOS 26 the version and the default title bar
// are those of 26, not of the 16 an older SDK is told.
class MacOsVersionInTheCore : public kestrove::testing::WindowsFixture {};

TEST_F(MacOsVersionInTheCore, VersionAndDefaultTitlebarFollowTheReportedVersion) {
  sim::SimWindow bare;
  const sim::WindowId id = addWindow(bare);
  struct Case {
    OsVersion fromProcessInfo;
    const char* version;
    double titlebar;
  };
  const Case cases[] = {{{16, 0, 1}, "26.0.1", 32}, {{15, 6, 0}, "15.6.0", 28}};
  for (const Case& c : cases) {
    sim.setOsVersion(reportedOsVersion(c.fromProcessInfo));
    EXPECT_EQ(macosVersion(core), c.version);
    EXPECT_EQ(measureTitlebar(core, sim.windowElement(id), {0, 0, 800, 600}).titlebar, c.titlebar)
        << c.version;
  }
}

}  // namespace
}  // namespace kestrove::platform::macos
