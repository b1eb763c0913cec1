// hash_store.h - the ticket hash store "olmhash.dat" in the data directory:
// one line "descriptor path|message hash" per copy sent with guaranteed
// delivery. A receipt naming a hash ends the repeats of every request stored
// under it: the descriptor, the other files and the directory are deleted.
#pragma once

#include <cstdint>

#include "text/header_record.h"

namespace zz {

constexpr const char kHashStoreName[] = "olmhash.dat";

// add_hash_to_file - records a sent copy; 0 / 0xFFFFFFFF (reported)
uint32_t add_hash_to_file(const char *path, const char *hash);
// add_hash_to_data - the store's lines normalised, then "path|hash"; 0 / 0xFFFFFFFF
uint32_t add_hash_to_data(uint8_t **data, uint32_t *length, const char *path, const char *hash);
// del_hash_from_data - every line that begins with the path dropped; 0 / 0xFFFFFFFF
uint32_t del_hash_from_data(uint8_t **data, uint32_t *length, const char *path);
// find_hash_entry - the next line whose hash begins with `hash` (ASCII case
// ignored); 1 with its path (kLineSize buffer), 0 at the end
int find_hash_entry(TextCursor *cursor, char *path, const char *hash);
// delete_files_and_subdir - the descriptor, the other files of its
// directory, then the directory; 0 / 0xFFFFFFFF (reported)
uint32_t delete_files_and_subdir(const char *path);
// ticket_hash - OXT_ticket_hash
uint32_t ticket_hash(const char *hash);

}  // namespace zz
