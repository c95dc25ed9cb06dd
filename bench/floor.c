/* The floor for loop throughput: read lines, write one fixed reply per line
   with one write each. Nothing a helper could do costs less. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(void) {
  static const char reply[] =
      "{\"coords\":\"top-left-global-points\",\"helper\":\"kestrove\",\"id\":1,\"macos\":\"6.1.0\",\"ok\":"
      "true,"
      "\"pid\":1,\"protocol\":1,\"version\":\"1.0.0\"}\n";
  char* line = NULL;
  size_t capacity = 0;
  while (getline(&line, &capacity, stdin) >= 0) {
    if (write(1, reply, sizeof reply - 1) < 0) return 1;
  }
  return 0;
}
