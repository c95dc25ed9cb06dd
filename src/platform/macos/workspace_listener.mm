#include "platform/macos/workspace_listener.h"

#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>

// Observes one running application's `terminated` and reports, on the main
// queue, once it is set (at once if it already is). Main thread only, but
// for the observation itself, which AppKit may deliver on any thread.
@interface KestroveTerminationWatch : NSObject
- (instancetype)initWithApplication:(NSRunningApplication*)application report:(void (^)(void))report;
// No report after this, queued ones included; also releases the block.
- (void)stop;
@end

@implementation KestroveTerminationWatch {
  NSRunningApplication* _application;
  void (^_report)(void);
  BOOL _observing;
}

- (instancetype)initWithApplication:(NSRunningApplication*)application report:(void (^)(void))report {
  self = [super init];
  if (self != nil) {
    _application = application;
    _report = [report copy];
    [_application addObserver:self
                   forKeyPath:@"terminated"
                      options:NSKeyValueObservingOptionInitial
                      context:nullptr];
    _observing = YES;
  }
  return self;
}

- (void)observeValueForKeyPath:(NSString*)keyPath
                      ofObject:(id)object
                        change:(NSDictionary<NSKeyValueChangeKey, id>*)change
                       context:(void*)context {
  (void)keyPath;
  (void)change;
  (void)context;
  // The properties are thread safe; the report goes to the main queue,
  // where the core runs, and finds out there whether it is still wanted.
  if (![static_cast<NSRunningApplication*>(object) isTerminated]) return;
  __weak KestroveTerminationWatch* weakSelf = self;
  dispatch_async(dispatch_get_main_queue(), ^{
    KestroveTerminationWatch* watch = weakSelf;
    if (watch == nil) return;
    // A copy: the report may stop this very watch.
    void (^report)(void) = watch->_report;
    if (report != nil) report();
  });
}

- (void)stop {
  _report = nil;
  if (!_observing) return;
  [_application removeObserver:self forKeyPath:@"terminated" context:nullptr];
  _observing = NO;
}

- (void)dealloc {
  [self stop];
}

@end

namespace kestrove::platform::macos {
namespace {

class WorkspaceToken final : public TokenRef {
 public:
  WorkspaceToken(id observer, KestroveTerminationWatch* watch) : observer_(observer), watch_(watch) {}
  ~WorkspaceToken() override { remove(); }
  WorkspaceToken(const WorkspaceToken&) = delete;
  WorkspaceToken& operator=(const WorkspaceToken&) = delete;

  // Releases both handlers and everything they captured.
  void remove() {
    if (observer_ != nil) [[NSWorkspace sharedWorkspace].notificationCenter removeObserver:observer_];
    observer_ = nil;
    [watch_ stop];
    watch_ = nil;
  }

 private:
  id observer_;
  KestroveTerminationWatch* watch_;
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

Token addWorkspaceTerminationListener(std::int32_t pid, TerminationCallback callback) {
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
    // None for an application already gone from the list; the workspace's
    // notice is then all there is.
    NSRunningApplication* application =
        [NSRunningApplication runningApplicationWithProcessIdentifier:static_cast<pid_t>(pid)];
    KestroveTerminationWatch* watch = nil;
    if (application != nil) {
      watch = [[KestroveTerminationWatch alloc] initWithApplication:application
                                                             report:^{
                                                               TerminationCallback run = callback;
                                                               if (run) run(TerminationNotice{pid});
                                                             }];
    }
    return std::make_shared<WorkspaceToken>(observer, watch);
  }
}

void removeWorkspaceTerminationListener(const Token& token) {
  if (auto* ours = dynamic_cast<WorkspaceToken*>(token.get())) ours->remove();
}

}  // namespace kestrove::platform::macos
