// The client dataset XML data packet, the wire format of the version list (read) and of
// the version log (written).
#pragma once

#include <string>

#include "data/Cversion_tb.h"

namespace qvu {

enum class PacketRead {
  Ok,
  NotXml,     // the text is not well-formed XML
  NotPacket,  // well-formed XML, but not a data packet; the reason is in error
};

// Reads the rows of a version list packet (UTF-8 text). Columns are those the FIELD
// elements declare, matched exactly with the fifteen column names; others are ignored,
// and a declared column that a ROW lacks gives "". A document type declaration is skipped,
// never expanded; entities other than XML's own stay as they are written.
PacketRead ReadVersionPacket(const std::string& text, TVersionTable& rows, std::string& error);

// The version log packet for the entries: seven string columns and one ROW per entry,
// every attribute written even when empty. "" when it cannot be built.
std::string WriteVersionLogPacket(const TVersionTable& entries);

}  // namespace qvu
