/* What GCC 12's static libstdc++ takes from the C library and glibc 2.31
 * lacks. Linked only into a build against an older C library
 * (cmake/linux-bullseye.cmake); a binary's own definitions stay inside it,
 * so a newer C library's are not replaced. */
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/random.h>

/* glibc 2.32: libstdc++ skips atomic reference counting while this says the
 * process has one thread. "Never known to be single-threaded" makes it
 * always use atomics, which is correct with any number of threads. */
char __libc_single_threaded = 0;

/* glibc 2.36: std::random_device's "arc4random" source. The helper draws no
 * random numbers; this keeps that source working from the kernel's. */
uint32_t arc4random(void);
uint32_t arc4random(void) {
  uint32_t value;
  for (;;) {
    ssize_t got = getrandom(&value, sizeof value, 0);
    if (got == (ssize_t)sizeof value) return value;
    if (got < 0 && errno != EINTR) abort();
  }
}
