// file_io.h - whole-file reads and writes. Files are opened without sharing,
// so a file another program holds fails the attempt; the readers and writers
// try 4 times with 1-second pauses. Results: 1 success, 0 failure.
#pragma once

#include <cstdint>

namespace zz {

constexpr int kFileAttempts = 4;
constexpr uint32_t kFilePauseMs = 1000;

// write_to_file - creates or replaces the file, written through; reports nothing
int write_to_file(const char *path, const void *data, uint32_t length);
// write_new_file - with only_new, write_to_file of a name nothing holds yet:
// -1 (nothing written) when something does; else 1 written, 0 failed
int write_new_file(const char *path, const void *data, uint32_t length, bool only_new);
// read_from_file - a new owned block of length + 8; reports 0xE0090028 once
int read_from_file(const char *path, uint8_t **data, uint32_t *length);
// read_file_once - one attempt, no event; `read_only` (when given) tells
// whether the file had the read-only attribute
int read_file_once(const char *path, uint8_t **data, uint32_t *length, bool *read_only = nullptr);
// get_file_size - 0 when it cannot be opened or measured
int get_file_size(const char *path, uint32_t *length);
// copy_to_file - read_from_file of the source, write_to_file of the target
int copy_to_file(const char *source, const char *target);

}  // namespace zz
