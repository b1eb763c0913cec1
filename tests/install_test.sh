#!/bin/bash
# install_test.sh - `cmake --install` into a fresh prefix: every piece lands
# where admins and packagers look, the installed program runs from there, and
# a C host compiles and links against the module through pkg-config.
set -u
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for f in bin/zozerez-gateway lib/libzozerez.so lib/libroriv.so lib/libzura_vez.so lib/libvudo.so \
  include/zozerez.h include/zozerez_host.h share/man/man1/zozerez-gateway.1 \
  lib/systemd/system/zozerez-gateway.service lib/pkgconfig/zozerez.pc \
  share/doc/zozerez/examples/gateway.reg share/doc/zozerez/reliability.md; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
grep -q "^ExecStart=/.*/bin/zozerez-gateway run$" "$prefix/lib/systemd/system/zozerez-gateway.service" ||
  fail "the unit does not run the program from the configured prefix"
env -u LD_LIBRARY_PATH "$prefix/bin/zozerez-gateway" --version | grep -q '^zozerez-gateway ' ||
  fail "the installed program does not run"
cat >"$prefix/host.c" <<'C'
#include <zozerez.h>
int main(void) { GetFileCtx ctx; return OXT_is_bd(&ctx) > 1; }
C
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs zozerez) ||
  fail "pkg-config does not know zozerez"
# A sanitizer build's module needs the sanitizer runtime in its host too.
nm -D "$prefix/lib/libzozerez.so" | grep -q __asan && flags="$flags -fsanitize=address,undefined"
cc "$prefix/host.c" -o "$prefix/host" $flags -Wl,-rpath-link,"$prefix/lib" ||
  fail "a host does not link with: $flags"
echo "install checked"
