// A Win32 window for the helper's Wine tests: a known client size, fixed or
// resizable, or a captionless popup that covers the primary monitor. It
// prints "ready HWND X Y W H" (client area in screen pixels) once shown, the
// same for every "rect" line on stdin, opens a second window on "open"
// ("opened HWND"), and quits on "quit", on the end of
// stdin, or once the file given with --quit-file exists.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define WM_APP_LINE (WM_APP + 1)
#define WM_APP_OPEN (WM_APP + 2)

static HWND window;
static const char* quit_file;

static void print_rect(const char* what) {
  RECT r;
  POINT origin = {0, 0};
  GetClientRect(window, &r);
  ClientToScreen(window, &origin);
  printf("%s %llu %ld %ld %ld %ld\n", what, (unsigned long long)(UINT_PTR)window, origin.x, origin.y,
         r.right - r.left, r.bottom - r.top);
  fflush(stdout);
}

static DWORD WINAPI read_stdin(LPVOID unused) {
  (void)unused;
  char line[256];
  while (fgets(line, sizeof line, stdin)) {
    if (strncmp(line, "quit", 4) == 0) break;
    if (strncmp(line, "rect", 4) == 0) PostMessageA(window, WM_APP_LINE, 0, 0);
    if (strncmp(line, "open", 4) == 0) PostMessageA(window, WM_APP_OPEN, 0, 0);
  }
  PostMessageA(window, WM_CLOSE, 0, 0);
  return 0;
}

static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_APP_LINE:
      print_rect("rect");
      return 0;
    case WM_APP_OPEN: {
      // A second top-level window of the same process.
      HWND other = CreateWindowExA(0, "KestroveTestApp", "kestrove second window", WS_OVERLAPPEDWINDOW, 200,
                                   200, 300, 200, NULL, NULL, GetModuleHandleA(NULL), NULL);
      ShowWindow(other, SW_SHOW);
      printf("opened %llu\n", (unsigned long long)(UINT_PTR)other);
      fflush(stdout);
      return 0;
    }
    case WM_TIMER:
      if (quit_file && GetFileAttributesA(quit_file) != INVALID_FILE_ATTRIBUTES) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      if (hwnd == window) PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

int main(int argc, char** argv) {
  int width = 400, height = 300, fixed = 0, fullscreen = 0;
  const char* title = "kestrove test app";
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--size") && i + 2 < argc) {
      width = atoi(argv[++i]);
      height = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--fixed")) {
      fixed = 1;
    } else if (!strcmp(argv[i], "--fullscreen")) {
      fullscreen = 1;
    } else if (!strcmp(argv[i], "--title") && i + 1 < argc) {
      title = argv[++i];
    } else if (!strcmp(argv[i], "--quit-file") && i + 1 < argc) {
      quit_file = argv[++i];
    } else {
      fprintf(stderr,
              "usage: testapp [--size W H] [--fixed] [--fullscreen] [--title T] [--quit-file PATH]\n");
      return 2;
    }
  }
  HINSTANCE instance = GetModuleHandleA(NULL);
  WNDCLASSA wc = {0};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = "KestroveTestApp";
  RegisterClassA(&wc);

  DWORD style = WS_OVERLAPPEDWINDOW;
  if (fixed) style &= ~(WS_THICKFRAME | WS_MAXIMIZEBOX);
  int x = 100, y = 100;
  RECT r = {0, 0, width, height};
  if (fullscreen) {
    style = WS_POPUP;
    x = y = 0;
    r.right = GetSystemMetrics(SM_CXSCREEN);
    r.bottom = GetSystemMetrics(SM_CYSCREEN);
  } else {
    AdjustWindowRect(&r, style, FALSE);
  }
  window = CreateWindowExA(0, wc.lpszClassName, title, style, x, y, r.right - r.left, r.bottom - r.top, NULL,
                           NULL, instance, NULL);
  if (!window) return 1;
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  if (quit_file) SetTimer(window, 1, 50, NULL);
  print_rect("ready");
  CreateThread(NULL, 0, read_stdin, NULL, 0, NULL);

  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
