/* interpose_host.c - a host program, written in C, that defines the roriv
 * functions itself: the module loaded beside libroriv.so must call these,
 * not the library's. Also proves the public headers compile as C. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "zozerez.h"
#include "zozerez_host.h"

static unsigned key_calls;
static uint32_t last_code;

uint32_t NR_GetRegistryKeyString(char *key) {
  ++key_calls;
  key[0] = '\0';
  return 1; /* the module must report that it could not get the key */
}

void OLM_ReportEvent(uint32_t level, uint32_t code, ...) {
  (void)level;
  if (last_code == 0) last_code = code;
}

int main(void) {
  GetFileCtx ctx;
  memset(&ctx, 0, sizeof ctx);
  uint32_t result = OXT_init_get_files(&ctx);
  if (result != 0xFFFFFFFFu || key_calls != 1 || last_code != OXT_EV_REGISTRY_KEY) {
    fprintf(stderr, "the module did not call the host's own functions (%u, %u, %08X)\n",
            (unsigned)result, key_calls, (unsigned)last_code);
    return 1;
  }
  OXT_deinit_get_files(&ctx);
  puts("the module called the host program's own roriv functions");
  return 0;
}
