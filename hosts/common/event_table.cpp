// event_table.cpp - the event codes, their arguments and readable texts.
#include "common/event_table.h"

namespace zz::host_common {
namespace {

// clang-format off
const EventInfo kEvents[] = {
    {0xE0090001, "ttn", "no input rule stored the file \"%1\" from \"%2\" (message flags %3)"},
    {0xE0090002, "tt", "%1 failed in %2"},
    {0xE0090003, "p", "cannot write the file \"%1\""},
    {0xE0090004, "", "out of memory"},
    {0xE0090005, "p", "cannot read the file \"%1\""},
    {0xE0090007, "", "cannot get the host's registry key"},
    {0xE0090008, "tt", "cannot read the setting \"%1\" under \"%2\""},
    {0xE0090009, "", "the signature list is missing from a signed outgoing message"},
    {0xE009000A, "n", "a signed outgoing message holds %1 file(s): too few for files and a signature list"},
    {0xE009000B, "t", "the signature list has a bad or missing field \"%1\""},
    {0xE009000C, "", "cannot compute a digest (CCA_hash_mem)"},
    {0xE009000D, "t", "the digest of \"%1\" differs from its entry in the signature list"},
    {0xE009000E, "", "cannot read the signers of a signature (CCA_sender_signed_data)"},
    {0xE009000F, "", "cannot find the signer's certificate (CCA_find_cert_by_serial)"},
    {0xE0090010, "", "cannot check a signature (CCA_check_mem_sep)"},
    {0xE0090011, "", "a signature is not correct"},
    {0xE0090012, "", "the key of a signature was not found"},
    {0xE0090014, "", "a signature check ended with an error"},
    {0xE0090015, "p", "cannot create the directory \"%1\""},
    {0xE0090016, "", "the incoming message has no Length-File/File-Data block"},
    {0xE0090017, "", "cannot open the message database (BdInit)"},
    {0xE0090018, "", "cannot read a message from the database (BdReadMsg)"},
    {0xE0090019, "", "cannot get random bytes for a GUID (CCA_get_random)"},
    {0xE009001A, "n", "message part type %1 is not one of 1 to 9"},
    {0xE009001B, "p", "the directory \"%1\" does not exist"},
    {0xE009001C, "", "the message database refused the message 6 times (BdWriteMsg)"},
    {0xE009001D, "", "the message database did not release the message in 6 attempts (BdFreeMsg)"},
    {0xE009001E, "", "the message database does not answer (BdPing)"},
    {0xE009001F, "", "no header line to edit"},
    {0xE0090020, "pp", "cannot rename \"%1\" to \"%2\""},
    {0xE0090021, "t", "the path \"%1\" has no \\ separator"},
    {0xE0090022, "p", "cannot delete the file \"%1\""},
    {0xE0090023, "p", "cannot remove the directory \"%1\""},
    {0xE0090024, "tt", "the setting \"%1\" under \"%2\" is not a number of at least 1"},
    {0xE0090025, "", "cannot get the temporary directory"},
    {0xE0090026, "pp", "cannot copy \"%1\" to \"%2\""},
    {0xE0090028, "n", "a file could not be read in three attempts (system error %1)"},
    {0xE0030015, "tt", "%1 failed in %2 (setting AttachmentSort)"},
    // The host program's own events.
    {0xE00A0001, "pp", "set aside \"%1\" as \"%2\": claimed by a gateway that stopped before recording its name"},
};
// clang-format on

}  // namespace

std::string display_path(std::string path) {
#if defined(_WIN32)
  const char from = '/', to = '\\';
#else
  const char from = '\\', to = '/';
#endif
  for (char &c : path) {
    if (c == from) c = to;
  }
  return path;
}

const EventInfo *find_event(uint32_t code) {
  for (const EventInfo &info : kEvents) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

std::string format_event(const EventInfo &info, const std::vector<std::string> &args) {
  std::string out;
  for (const char *p = info.text; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] >= '1' && p[1] <= '3') {
      size_t index = static_cast<size_t>(p[1] - '1');
      if (index < args.size()) out += args[index];
      ++p;
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

}  // namespace zz::host_common
