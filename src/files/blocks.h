// blocks.h - owned blocks: every text, data block and array the module keeps
// comes from malloc, 8 bytes larger than its content, and goes back with free.
// Inside the module RAII holds a block (`Owned`) until a record takes it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "zozerez.h"

namespace zz {

constexpr uint32_t kOk = 0;
constexpr uint32_t kFailed = 0xFFFFFFFFu;
constexpr size_t kSpareBytes = 8;

struct FreeBlock {
  void operator()(void *block) const { std::free(block); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeBlock>;

// Record - an owned block with its length, as the record edits replace it in
// place (the old block freed on success, kept on failure); freed at the end.
struct Record {
  Record() = default;
  ~Record() { std::free(Data); }
  Record(const Record &) = delete;
  Record &operator=(const Record &) = delete;
  uint8_t *Data = nullptr;
  uint32_t Length = 0;
};

// create_memory - size + 8 zero bytes; 0, or 0xFFFFFFFF with the pair reported
uint32_t create_memory(void **out, size_t size);
// create_string - a copy of the text with its zero; 0 / 0xFFFFFFFF
uint32_t create_string(char **out, const char *text);
// create_data - a copy of `length` bytes (spare bytes unset); 0 / 0xFFFFFFFF
uint32_t create_data(void **out, const void *data, size_t length);

// make_address_entry - an entry owning copies of both texts; 0, or 0xFFFFFFFF with the entry empty
uint32_t make_address_entry(AddressEntry *entry, const char *type, const char *address);
// free_pairs - each entry's address, then its type, then the array
void free_pairs(AddressEntry *entries, uint32_t count);
// free_file_entries - each entry's data and four texts, then the array
void free_file_entries(FileEntry *entries, uint32_t count);
// free_quad - the four request texts of a record: fourth, third, first,
// second are freed, then all four are set to null
void free_quad(char *&first, char *&second, char *&third, char *&fourth);

}  // namespace zz
