/* GCC 12's libstdc++ skips atomic reference counting while the C library
 * says the process has one thread, through this flag (glibc 2.32 and later).
 * Linked against an older C library the helper defines it itself, as
 * "never known to be single-threaded": libstdc++ then always uses atomics,
 * which is correct with any number of threads. */
char __libc_single_threaded = 0;
