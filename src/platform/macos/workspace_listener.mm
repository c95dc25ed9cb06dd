#include "platform/macos/workspace_listener.h"

#import <AppKit/AppKit.h>

namespace kestrove::platform::macos {
namespace {

class WorkspaceToken final : public TokenRef {
 public:
  explicit WorkspaceToken(id observer) : observer_(observer) {}
  ~WorkspaceToken() override { remove(); }
  WorkspaceToken(const WorkspaceToken&) = delete;
  WorkspaceToken& operator=(const WorkspaceToken&) = delete;

  // Releases the handler and everything it captured.
  void remove() {
    if (observer_ == nil) return;
    [[NSWorkspace sharedWorkspace].notificationCenter removeObserver:observer_];
    observer_ = nil;
  }

 private:
  id observer_;
};

TerminationNotice noticeOf(NSNotification* notification) {
  NSDictionary* info = notification.userInfo;
  if (![info isKindOfClass:[NSDictionary class]]) return {};
  id app = info[NSWorkspaceApplicationKey];
  if (![app isKindOfClass:[NSRunningApplication class]]) return {};
  return TerminationNotice{
      static_cast<std::int32_t>(static_cast<NSRunningApplication*>(app).processIdentifier)};
}

}  // namespace

Token addWorkspaceTerminationListener(TerminationCallback callback) {
  @autoreleasepool {
    NSNotificationCenter* center = [NSWorkspace sharedWorkspace].notificationCenter;
    id observer = [center addObserverForName:NSWorkspaceDidTerminateApplicationNotification
                                      object:nil
                                       queue:[NSOperationQueue mainQueue]
                                  usingBlock:^(NSNotification* notification) {
                                    // A copy: the callback may remove this very listener.
                                    TerminationCallback run = callback;
                                    if (run) run(noticeOf(notification));
                                  }];
    if (observer == nil) return nullptr;
    return std::make_shared<WorkspaceToken>(observer);
  }
}

void removeWorkspaceTerminationListener(const Token& token) {
  if (auto* ours = dynamic_cast<WorkspaceToken*>(token.get())) ours->remove();
}

}  // namespace kestrove::platform::macos
