// blocks.cpp - allocation and release of owned blocks.
#include "files/blocks.h"

#include <cstring>

#include "frame/events.h"

namespace zz {
namespace {

void *allocate(size_t size, const char *function) {
  void *block = std::malloc(size + kSpareBytes);
  if (block == nullptr) report_failure(OXT_EV_NO_MEMORY, "malloc", function);
  return block;
}

}  // namespace

uint32_t create_memory(void **out, size_t size) {
  void *block = allocate(size, "create_memory");
  if (block == nullptr) return kFailed;
  std::memset(block, 0, size + kSpareBytes);
  *out = block;
  return kOk;
}

uint32_t create_string(char **out, const char *text) {
  if (text == nullptr) text = "";
  size_t length = std::strlen(text);
  void *block = allocate(length, "create_string");
  if (block == nullptr) return kFailed;
  std::memcpy(block, text, length + 1);
  *out = static_cast<char *>(block);
  return kOk;
}

uint32_t create_data(void **out, const void *data, size_t length) {
  void *block = allocate(length, "create_data");
  if (block == nullptr) return kFailed;
  if (length != 0) std::memcpy(block, data, length);
  *out = block;
  return kOk;
}

uint32_t make_address_entry(AddressEntry *entry, const char *type, const char *address) {
  *entry = AddressEntry{};
  if (create_string(&entry->Type, type) != kOk) return kFailed;
  if (create_string(&entry->Address, address) != kOk) {
    std::free(entry->Type);
    entry->Type = nullptr;
    return kFailed;
  }
  return kOk;
}

void free_pairs(AddressEntry *entries, uint32_t count) {
  if (entries == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    std::free(entries[i].Address);
    std::free(entries[i].Type);
  }
  std::free(entries);
}

void free_file_entries(FileEntry *entries, uint32_t count) {
  if (entries == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    std::free(entries[i].Data);
    std::free(entries[i].Name);
    std::free(entries[i].CopyPath);
    std::free(entries[i].PickupPath);
    std::free(entries[i].WorkPath);
  }
  std::free(entries);
}

void free_quad(char *&first, char *&second, char *&third, char *&fourth) {
  std::free(fourth);
  std::free(third);
  std::free(first);
  std::free(second);
  first = second = third = fourth = nullptr;
}

}  // namespace zz
