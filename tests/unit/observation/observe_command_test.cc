#include "observation/observe_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "observation_fixture.h"

namespace kestrove::obs_testing {
namespace {

using platform::ax::kFailure;
using platform::ax::kNotificationUnsupported;

class ObserveCommandTest : public ObservationFixture {
 protected:
  // The platform calls a teardown makes, in order, as "operation name element".
  std::vector<std::string> teardownCalls() const {
    std::vector<std::string> out;
    for (const sim::SimCall& c : sim.calls()) {
      if (c.operation == "removeNotification" || c.operation == "detachObserver" ||
          c.operation == "removeTerminationListener") {
        out.push_back(c.operation + (c.name.empty() ? "" : " " + c.name) +
                      (c.element.empty() ? "" : " " + c.element));
      }
    }
    return out;
  }
  static std::string win(sim::WindowId id) { return "window " + std::to_string(id); }
  static std::string app(std::int32_t pid) { return "app " + std::to_string(pid); }
};

TEST_F(ObserveCommandTest, RegistersTheAppAndEachWindowOnce) {
  const sim::WindowId a = addWindow(kViewerPid, 0, 0, 11);
  const sim::WindowId b = addWindow(kViewerPid, 0, 0, 12);
  const sim::WindowId c = addWindow(kViewerPid, 0, 0, 13);

  JsonObject reply = observe(kViewer);

  EXPECT_EQ(reply, (JsonObject{{"observing", true}, {"pid", kViewerPid}, {"windows", 3}}));
  ASSERT_NE(active(), nullptr);
  EXPECT_EQ(active()->bundle, kViewer);
  EXPECT_TRUE(sim.isAttached(active()->observer));
  EXPECT_EQ(sim.terminationListenerCount(), 1u);
  std::vector<std::string> expected = {
      app(kViewerPid) + " AXWindowCreated", app(kViewerPid) + " AXWindowMoved",
      app(kViewerPid) + " AXWindowResized", win(a) + " AXUIElementDestroyed",
      win(b) + " AXUIElementDestroyed",     win(c) + " AXUIElementDestroyed"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(registrationsOf(active()->observer), expected);
  for (const sim::SimRegistration& r : sim.registrations(active()->observer)) {
    EXPECT_EQ(r.context, active()) << r.element << " " << r.notification;
  }
  // Watched in the platform's order, each with the number it had then.
  ASSERT_EQ(active()->watched.size(), 3u);
  const std::vector<sim::WindowId> order = {a, b, c};
  for (std::size_t i = 0; i < order.size(); ++i) {
    EXPECT_TRUE(platform::sameElement(active()->watched[i].element, sim.windowElement(order[i])));
    EXPECT_EQ(active()->watched[i].id, std::optional<std::int64_t>(11 + static_cast<std::int64_t>(i)));
  }
  EXPECT_TRUE(lines.empty());
}

TEST_F(ObserveCommandTest, RefusalsBeforeTheSwitchLeaveThePreviousObservation) {
  addWindow(kViewerPid);
  observe(kViewer);
  Observation* before = active();
  const std::size_t registrations = sim.registrations(before->observer).size();

  struct Case {
    const char* name;
    Args args;
    bool trusted;
    std::string failure;
  };
  const std::string usage = "bad_args: observe <bundleId>";
  const Case cases[] = {
      {"no argument", {}, true, usage},
      {"two arguments", {kEditor, kEditor}, true, usage},
      {"leading hyphen", {"-com.example.editor"}, true, usage},
      {"slash", {"com.example/editor"}, true, usage},
      {"256 letters", {std::string(256, 'a')}, true, usage},
      {"untrusted", {kEditor}, false, "ax_denied"},
      {"not running", {"com.example.absent"}, true, "not_running"},
  };
  for (const Case& c : cases) {
    sim.setTrusted(c.trusted);
    EXPECT_EQ(failureOf([&] { observeCommand(core, c.args); }), c.failure) << c.name;
    EXPECT_EQ(active(), before) << c.name;
    EXPECT_EQ(sim.registrations(before->observer).size(), registrations) << c.name;
    EXPECT_TRUE(sim.isAttached(before->observer)) << c.name;
  }
  EXPECT_EQ(sim.terminationListenerCount(), 1u);
}

TEST_F(ObserveCommandTest, FailingToCreateTheObserverEndsThePreviousObservation) {
  struct Case {
    std::int32_t code;
    bool nullObserver;
  };
  for (Case c : {Case{kFailure, false}, Case{kFailure, true}, Case{0, true}}) {
    sim.clearFaults();
    addWindow(kViewerPid);
    observe(kViewer);
    platform::Observer previous = active()->observer;
    sim.failObserverCreate(c.code, c.nullObserver);

    EXPECT_EQ(failureOf([&] { observe(kEditor); }), "observe_failed");

    EXPECT_EQ(active(), nullptr);
    EXPECT_TRUE(sim.registrations(previous).empty());
    EXPECT_FALSE(sim.isAttached(previous));
    EXPECT_EQ(sim.terminationListenerCount(), 0u);
  }
}

TEST_F(ObserveCommandTest, NoApplicationRegistrationMeansFailureAndNothingLeftBehind) {
  addWindow(kViewerPid);
  observe(kViewer);
  const platform::Element editorApp = sim.applicationElement(kEditorPid);
  for (const char* name : {"AXWindowCreated", "AXWindowMoved", "AXWindowResized"}) {
    sim.failAddNotification(editorApp, name, kNotificationUnsupported);
  }
  addWindow(kEditorPid);
  sim.clearCalls();

  EXPECT_EQ(failureOf([&] { observe(kEditor); }), "observe_failed: no AX notification could be added");

  EXPECT_EQ(active(), nullptr);
  // All three were tried; nothing else happened on the new observer.
  EXPECT_EQ(sim.countCalls("addNotification"), 3u);
  EXPECT_EQ(sim.countCalls("attachObserver"), 0u);
  EXPECT_EQ(sim.countCalls("addTerminationListener"), 0u);
  EXPECT_EQ(sim.liveObservers(), 0u);
  EXPECT_EQ(sim.terminationListenerCount(), 0u);
}

TEST_F(ObserveCommandTest, OneApplicationRegistrationIsEnough) {
  const platform::Element viewerApp = sim.applicationElement(kViewerPid);
  sim.failAddNotification(viewerApp, "AXWindowCreated", kNotificationUnsupported);
  sim.failAddNotification(viewerApp, "AXWindowResized", kNotificationUnsupported);
  addWindow(kViewerPid);

  EXPECT_EQ(observe(kViewer), (JsonObject{{"observing", true}, {"pid", kViewerPid}, {"windows", 1}}));
  EXPECT_EQ(registrationsOf(active()->observer).size(), 2u);
}

TEST_F(ObserveCommandTest, WindowsThatCannotBeWatchedAreLeftOutQuietly) {
  const sim::WindowId refused = addWindow(kViewerPid);
  const sim::WindowId kept = addWindow(kViewerPid);
  sim.failAddNotification(sim.windowElement(refused), "AXUIElementDestroyed", kNotificationUnsupported);

  EXPECT_EQ(observe(kViewer).at("windows"), JsonValue(1));
  ASSERT_EQ(active()->watched.size(), 1u);
  EXPECT_TRUE(platform::sameElement(active()->watched[0].element, sim.windowElement(kept)));
}

TEST_F(ObserveCommandTest, AWindowListedTwiceIsWatchedOnce) {
  const sim::WindowId a = addWindow(kViewerPid);
  const sim::WindowId b = addWindow(kViewerPid);
  // Distinct element objects for the same window, as the platform may hand out.
  std::vector<platform::Element> listed = {sim.windowElement(a), sim.windowElement(b), sim.windowElement(a)};
  sim.failRead(sim.applicationElement(kViewerPid), "AXWindows",
               platform::AttributeRead{0, platform::Value(listed)});

  EXPECT_EQ(observe(kViewer).at("windows"), JsonValue(2));
  EXPECT_EQ(sim.countCalls("addNotification", "AXUIElementDestroyed"), 2u);
}

TEST_F(ObserveCommandTest, AnUnreadableWindowListIsNoFailure) {
  sim.failRead(sim.applicationElement(kViewerPid), "AXWindows",
               platform::AttributeRead{platform::ax::kNoValue, std::nullopt});
  EXPECT_EQ(observe(kViewer), (JsonObject{{"observing", true}, {"pid", kViewerPid}, {"windows", 0}}));
}

TEST_F(ObserveCommandTest, ObservingAgainRegistersEveryWindowAfresh) {
  addWindow(kViewerPid);
  addWindow(kViewerPid);
  observe(kViewer);
  platform::Observer first = active()->observer;

  EXPECT_EQ(observe(kViewer).at("windows"), JsonValue(2));

  EXPECT_TRUE(sim.registrations(first).empty());
  EXPECT_FALSE(sim.isAttached(first));
  EXPECT_EQ(registrationsOf(active()->observer).size(), 5u);
  EXPECT_EQ(sim.terminationListenerCount(), 1u);
}

TEST_F(ObserveCommandTest, TeardownRemovesEverythingInOrder) {
  const sim::WindowId a = addWindow(kViewerPid);
  const sim::WindowId b = addWindow(kViewerPid);
  observe(kViewer);
  std::shared_ptr<Observation> obs = core.state.activeObservation;
  sim.clearCalls();

  endActiveObservation(core);

  EXPECT_EQ(active(), nullptr);
  EXPECT_TRUE(obs->watched.empty());
  EXPECT_EQ(obs->quitToken, nullptr);
  EXPECT_EQ(teardownCalls(), (std::vector<std::string>{
                                 "removeNotification AXUIElementDestroyed " + win(a),
                                 "removeNotification AXUIElementDestroyed " + win(b),
                                 "removeNotification AXWindowCreated " + app(kViewerPid),
                                 "removeNotification AXWindowMoved " + app(kViewerPid),
                                 "removeNotification AXWindowResized " + app(kViewerPid),
                                 "detachObserver",
                                 "removeTerminationListener",
                             }));
  EXPECT_EQ(sim.terminationListenerCount(), 0u);
  obs.reset();
  EXPECT_EQ(sim.liveObservers(), 0u);
}

TEST_F(ObserveCommandTest, EndingWithNothingObservedDoesNothing) {
  endActiveObservation(core);
  EXPECT_EQ(active(), nullptr);
  EXPECT_TRUE(sim.calls().empty());
}

}  // namespace
}  // namespace kestrove::obs_testing
