// A stand-in for the Windows helper while it is not built: the Win32 calls
// its `windows` and `place` make under Wine (EnumWindows, the process image
// name, GetClientRect + ClientToScreen, SetWindowPos and its read-back), one
// JSON line each. Only for timing the Wine desktop; not the protocol.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

struct search {
  const char* app;
  HWND found;
};

static int is_app(HWND hwnd, const char* app) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return 0;
  char path[MAX_PATH];
  DWORD size = sizeof path;
  int match = 0;
  if (QueryFullProcessImageNameA(process, 0, path, &size)) {
    const char* base = strrchr(path, '\\');
    base = base ? base + 1 : path;
    size_t n = strlen(app);
    match = _strnicmp(base, app, n) == 0 && _stricmp(base + n, ".exe") == 0;
  }
  CloseHandle(process);
  return match;
}

static BOOL CALLBACK visit(HWND hwnd, LPARAM param) {
  struct search* s = (struct search*)param;
  if (IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == NULL && is_app(hwnd, s->app)) {
    s->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  struct search s = {argv[2], NULL};
  EnumWindows(visit, (LPARAM)&s);
  if (!s.found) {
    printf("{\"ok\":false}\n");
    return 1;
  }
  if (!strcmp(argv[1], "place") && argc == 7) {
    SetWindowPos(s.found, NULL, atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atoi(argv[6]),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT r;
  POINT origin = {0, 0};
  GetClientRect(s.found, &r);
  ClientToScreen(s.found, &origin);
  printf("{\"ok\":true,\"content\":[%ld,%ld,%ld,%ld]}\n", origin.x, origin.y, r.right, r.bottom);
  return 0;
}
