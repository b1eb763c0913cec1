/* no_sleep.c - preloaded into host programs under test: the module's pauses
 * reach nanosleep through the normal dynamic lookup, so this records each
 * (in milliseconds, one per line, in $ZZ_SLEEP_LOG when set) and returns at once. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int nanosleep(const struct timespec *request, struct timespec *remaining) {
  const char *log = getenv("ZZ_SLEEP_LOG");
  if (log != NULL && request != NULL) {
    FILE *f = fopen(log, "a");
    if (f != NULL) {
      fprintf(f, "%ld\n", (long)(request->tv_sec * 1000 + request->tv_nsec / 1000000));
      fclose(f);
    }
  }
  if (remaining != NULL) remaining->tv_sec = remaining->tv_nsec = 0;
  return 0;
}
