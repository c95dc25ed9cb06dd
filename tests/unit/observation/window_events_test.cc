#include "observation/window_events.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "observation_fixture.h"

namespace kestrove::obs_testing {
namespace {

using platform::ax::kCannotComplete;
using platform::ax::kNoValue;

class WindowEventsTest : public ObservationFixture {
 protected:
  static platform::AttributeRead noValue() { return {kNoValue, std::nullopt}; }
  static std::string frameJson(double x, double y, double w, double h) {
    auto n = [](double v) { return std::to_string(static_cast<long long>(v)); };
    return R"("frame":{"height":)" + n(h) + R"(,"width":)" + n(w) + R"(,"x":)" + n(x) + R"(,"y":)" + n(y) +
           "}";
  }
};

TEST_F(WindowEventsTest, UserMoveAndResizeWriteTheNewFrameAndNumber) {
  const sim::WindowId w = addWindow(kViewerPid, 10, 40, 77);
  observe(kViewer);

  sim.moveWindow(w, 300, 200);
  settle();
  sim.resizeWindow(w, 640, 480);
  settle();

  EXPECT_EQ(lines, (std::vector<std::string>{
                       R"({"bundleId":"com.example.viewer","event":"moved",)" +
                           frameJson(300, 200, 800, 600) + R"(,"id":77})",
                       R"({"bundleId":"com.example.viewer","event":"resized",)" +
                           frameJson(300, 200, 640, 480) + R"(,"id":77})",
                   }));
}

TEST_F(WindowEventsTest, AnOpenedWindowIsWatchedBeforeItsEventAndClosesWithItsNumber) {
  observe(kViewer);
  std::vector<std::size_t> watchedAtWrite;
  onWrite = [&](const std::string&) { watchedAtWrite.push_back(active()->watched.size()); };

  sim::SimWindow opened;
  opened.x = 5;
  opened.y = 30;
  opened.width = 400;
  opened.height = 300;
  opened.number = 91;
  const sim::WindowId w = sim.createWindow(kViewerPid, opened);
  settle();
  sim.closeWindow(w);
  settle();

  EXPECT_EQ(lines, (std::vector<std::string>{
                       R"({"bundleId":"com.example.viewer","event":"window_created",)" +
                           frameJson(5, 30, 400, 300) + R"(,"id":91})",
                       R"({"bundleId":"com.example.viewer","event":"window_closed","id":91})",
                   }));
  EXPECT_EQ(watchedAtWrite, (std::vector<std::size_t>{1, 0}));
}

TEST_F(WindowEventsTest, ClosedWindowReportsTheNumberRecordedAtRegistration) {
  sim::SimWindow unnumbered;
  unnumbered.numberCode = kCannotComplete;
  const sim::WindowId w = sim.addWindow(kViewerPid, unnumbered);
  observe(kViewer);
  // A number that turns up later is not the one the window was watched with.
  sim.window(w).numberCode = 0;
  sim.window(w).number = 55;

  sim.closeWindow(w);
  settle();

  EXPECT_EQ(
      lines,
      (std::vector<std::string>{R"({"bundleId":"com.example.viewer","event":"window_closed","id":null})"}));
}

TEST_F(WindowEventsTest, UnreadableFrameDropsFrameAndNumber) {
  const sim::WindowId w = addWindow(kViewerPid, 10, 40, 77);
  observe(kViewer);
  const platform::Element element = sim.windowElement(w);
  const std::string bare = R"({"bundleId":"com.example.viewer","event":"moved"})";

  for (const char* attribute : {"AXPosition", "AXSize"}) {
    lines.clear();
    sim.clearFaults();
    sim.failRead(element, attribute, noValue());
    sim.moveWindow(w, sim.window(w).x + 1, 40);
    settle();
    EXPECT_EQ(lines, std::vector<std::string>{bare}) << attribute;
  }

  // A frame JSON cannot carry counts as unreadable, rather than turning the
  // whole event into the writer's fallback line.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const platform::AxValue bad[] = {{1, nan, 40}, {2, 10, inf}};
  for (const platform::AxValue& value : bad) {
    lines.clear();
    sim.clearFaults();
    sim.failRead(element, value.type == 1 ? "AXPosition" : "AXSize", {platform::ax::kSuccess, value});
    sim.moveWindow(w, sim.window(w).x + 1, 40);
    settle();
    EXPECT_EQ(lines, std::vector<std::string>{bare}) << value.type;
  }
}

TEST_F(WindowEventsTest, ReadableFrameWithoutNumberGivesNullId) {
  for (bool functionPresent : {false, true}) {
    lines.clear();
    sim::SimWindow window;
    window.numberCode = functionPresent ? kCannotComplete : 0;
    const sim::WindowId w = sim.addWindow(kViewerPid, window);
    sim.setWindowNumberFunctionPresent(functionPresent);
    observe(kViewer);

    sim.moveWindow(w, 100, 100);
    settle();

    EXPECT_EQ(lines, (std::vector<std::string>{R"({"bundleId":"com.example.viewer","event":"moved",)" +
                                               frameJson(100, 100, 800, 600) + R"(,"id":null})"}))
        << "window-number function present: " << functionPresent;
    sim.closeWindow(w);
    settle();
  }
}

TEST_F(WindowEventsTest, UnwatchedWindowStillReportsMovesButNotItsClosing) {
  sim::SimWindow window;
  window.number = 8;
  const sim::WindowId w = sim.addWindow(kViewerPid, window);
  sim.failAddNotification(sim.windowElement(w), "AXUIElementDestroyed", kCannotComplete);
  observe(kViewer);

  sim.moveWindow(w, 1, 2);
  settle();
  sim.closeWindow(w);
  settle();

  EXPECT_EQ(lines, (std::vector<std::string>{R"({"bundleId":"com.example.viewer","event":"moved",)" +
                                             frameJson(1, 2, 800, 600) + R"(,"id":8})"}));
}

TEST_F(WindowEventsTest, ACreatedWindowThatCannotBeWatchedIsReportedAnyway) {
  observe(kViewer);
  sim::SimWindow window;
  window.number = 3;
  const sim::WindowId w = sim.addWindow(kViewerPid, window);
  sim.failAddNotification(sim.windowElement(w), "AXUIElementDestroyed", kCannotComplete);

  sim.sendNotification(kViewerPid, sim.applicationElement(kViewerPid), sim.windowElement(w),
                       "AXWindowCreated");
  settle();

  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(R"("event":"window_created")"), std::string::npos);
  EXPECT_TRUE(active()->watched.empty());
}

TEST_F(WindowEventsTest, RepeatedCreationAddsNothingButIsReportedAgain) {
  const sim::WindowId w = addWindow(kViewerPid, 0, 0, 4);
  observe(kViewer);

  for (int i = 0; i < 2; ++i) {
    sim.sendNotification(kViewerPid, sim.applicationElement(kViewerPid), sim.windowElement(w),
                         "AXWindowCreated");
  }
  settle();

  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(active()->watched.size(), 1u);
  EXPECT_EQ(sim.countCalls("addNotification", "AXUIElementDestroyed"), 1u);
}

TEST_F(WindowEventsTest, DirectNotificationsAreFilteredByContextAndName) {
  const sim::WindowId watchedWindow = addWindow(kViewerPid, 0, 0, 6);
  const sim::WindowId stranger = addWindow(kEditorPid, 0, 0, 9);
  observe(kViewer);
  const void* context = active();
  const platform::Element strangerElement = sim.windowElement(stranger);

  handleWindowNotification(core, strangerElement, "AXWindowMoved", nullptr);
  handleWindowNotification(core, strangerElement, "AXWindowMoved", &core);
  handleWindowNotification(core, strangerElement, "AXTitleChanged", context);
  handleWindowNotification(core, strangerElement, "axwindowmoved", context);
  EXPECT_TRUE(lines.empty());

  // An element that was never watched closes: the list stays, the id is null.
  handleWindowNotification(core, strangerElement, "AXUIElementDestroyed", context);
  EXPECT_EQ(
      lines,
      (std::vector<std::string>{R"({"bundleId":"com.example.viewer","event":"window_closed","id":null})"}));
  ASSERT_EQ(active()->watched.size(), 1u);
  EXPECT_TRUE(platform::sameElement(active()->watched[0].element, sim.windowElement(watchedWindow)));
}

TEST_F(WindowEventsTest, ClosingTheMiddleWindowKeepsTheOthersInOrder) {
  const sim::WindowId a = addWindow(kViewerPid, 0, 0, 1);
  const sim::WindowId b = addWindow(kViewerPid, 0, 0, 2);
  const sim::WindowId c = addWindow(kViewerPid, 0, 0, 3);
  observe(kViewer);
  sim.clearCalls();

  sim.closeWindow(b);
  settle();

  ASSERT_EQ(active()->watched.size(), 2u);
  EXPECT_TRUE(platform::sameElement(active()->watched[0].element, sim.windowElement(a)));
  EXPECT_TRUE(platform::sameElement(active()->watched[1].element, sim.windowElement(c)));
  EXPECT_EQ(sim.countCalls("removeNotification", "AXUIElementDestroyed", "window " + std::to_string(b)), 1u);
  EXPECT_EQ(
      lines,
      (std::vector<std::string>{R"({"bundleId":"com.example.viewer","event":"window_closed","id":2})"}));
}

TEST_F(WindowEventsTest, LateNotificationsOfAReplacedObservationAreDropped) {
  const sim::WindowId viewerWindow = addWindow(kViewerPid, 0, 0, 6);
  addWindow(kEditorPid);
  observe(kViewer);
  // Keeps the old observation's address from being reused while it is tested.
  std::shared_ptr<Observation> replaced = core.state.activeObservation;
  sim.moveWindow(viewerWindow, 50, 50);  // queued, not yet delivered

  observe(kEditor);
  settle();
  handleWindowNotification(core, sim.windowElement(viewerWindow), "AXWindowMoved", replaced.get());
  handleWindowNotification(core, sim.windowElement(viewerWindow), "AXUIElementDestroyed", replaced.get());
  sim.quitApp(kViewerPid);
  settle();

  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(active()->bundle, kEditor);
}

TEST_F(WindowEventsTest, TheObservedAppQuittingEndsTheObservationBeforeItsEvent) {
  const sim::WindowId w = addWindow(kViewerPid);
  observe(kViewer);
  bool activeAtWrite = true;
  onWrite = [&](const std::string&) { activeAtWrite = active() != nullptr; };

  sim.quitApp(kViewerPid);
  sim.closeWindow(w);  // may come after the quit: dropped
  settle();

  EXPECT_EQ(lines, std::vector<std::string>{R"({"bundleId":"com.example.viewer","event":"app_quit"})"});
  EXPECT_FALSE(activeAtWrite);
  EXPECT_EQ(active(), nullptr);
  EXPECT_EQ(sim.terminationListenerCount(), 0u);
  EXPECT_EQ(sim.liveObservers(), 0u);
}

TEST_F(WindowEventsTest, OtherTerminationsAreIgnored) {
  addWindow(kViewerPid);
  observe(kViewer);
  Observation* observed = active();

  sim.quitApp(kEditorPid);
  sim.postTerminationNotice(platform::TerminationNotice{std::nullopt});
  settle();

  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(active(), observed);
  EXPECT_TRUE(sim.isAttached(observed->observer));
}

// The workspace's notice and the app's own running-application record may
// both report the quit, in either order, or the record alone (the
// workspace posts nothing for background and agent apps): one "app_quit"
// whichever comes first, and nothing when it is another app.
TEST_F(WindowEventsTest, AQuitIsReportedOnceHoweverItIsSeen) {
  using sim::SimQuitReport;
  struct Case {
    const char* name;
    SimQuitReport report;
  };
  const Case cases[] = {
      {"notice, then terminated", SimQuitReport::NoticeFirst},
      {"terminated, then notice", SimQuitReport::TerminatedFirst},
      {"terminated only: an agent app", SimQuitReport::TerminatedOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimPlatform world;
    std::vector<std::string> out;
    Writer keep{[&](const char* data, std::size_t size, int&) {
                  out.emplace_back(data, size - 1);
                  return static_cast<long>(size);
                },
                [](int) {}};
    Core quitting{world, keep, [](int) {}, HelperState{}};
    world.addApp(kViewer, kViewerPid);
    world.addApp(kEditor, kEditorPid);
    world.setQuitReport(kViewerPid, c.report);
    world.setQuitReport(kEditorPid, c.report);
    world.addWindow(kViewerPid, sim::SimWindow{});
    observeCommand(quitting, {kViewer});

    world.quitApp(kEditorPid);
    world.loop().runUntilIdle();
    EXPECT_TRUE(out.empty());
    ASSERT_NE(quitting.state.activeObservation, nullptr);

    world.quitApp(kViewerPid);
    world.loop().runUntilIdle();
    EXPECT_EQ(out, std::vector<std::string>{R"({"bundleId":"com.example.viewer","event":"app_quit"})"});
    EXPECT_EQ(quitting.state.activeObservation, nullptr);
    EXPECT_EQ(world.terminationListenerCount(), 0u);
    EXPECT_EQ(world.liveObservers(), 0u);
  }
}

}  // namespace
}  // namespace kestrove::obs_testing
