#!/bin/bash
# check_exports.sh - the shared module defines exactly the fifteen exports.
set -eu
lib="$1"
expected="OXT_deinit_get_files OXT_delete_files OXT_free_files OXT_free_get_files OXT_get_files
OXT_init_get_files OXT_input_life_signal OXT_is_bd OXT_output_life_signal OXT_store_bd_add
OXT_store_bd_flush OXT_store_bd_init OXT_store_bd_ping OXT_store_file_ext OXT_ticket_hash"
want=$(echo $expected | tr ' ' '\n' | sort)
have=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
if [ "$want" != "$have" ]; then
  echo "exports differ:"; diff <(echo "$want") <(echo "$have") 2>/dev/null || echo "$have"
  exit 1
fi
for dep in libroriv.so libzura_vez.so libvudo.so; do
  readelf -d "$lib" | grep -q "NEEDED.*\[$dep\]" || { echo "$lib does not need $dep"; exit 1; }
done
echo "fifteen exports, linked against roriv, zura_vez and vudo"
