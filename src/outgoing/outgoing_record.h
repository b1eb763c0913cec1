// outgoing_record.h - the OutgoingMessage record the module fills for the
// host, and its release.
#pragma once

#include "zozerez.h"

namespace zz {

// free_outgoing_message - every owned member, then the record is zeroed
void free_outgoing_message(OutgoingMessage *msg);

}  // namespace zz
