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
  TooLarge,   // past one of the limits below
};

// What a version list may take, so that whatever the service sends the program stays far
// below 128 MiB: the list is held as the service's text, as the parsed tree, and then as
// entries (each of which the program copies twice more while it plans and runs). A real
// list of 10,000 entries with every column filled is about 3 MB of text, 7 MB of tree.
constexpr size_t kMaxPacketBytes = 8 << 20;       // the text, after decoding
constexpr size_t kMaxPacketRows = 20000;          // ROW elements
constexpr size_t kMaxPacketTreeBytes = 32 << 20;  // the parsed tree: a few MiB of tiny
                                                  // elements would take ten times that

// Reads the rows of a version list packet (UTF-8 text, parsed where it lies). Columns are
// those the FIELD elements declare, matched exactly with the fifteen column names; others
// are ignored, and a declared column that a ROW lacks gives "". A document type declaration
// is skipped, never expanded; entities other than XML's own stay as they are written.
PacketRead ReadVersionPacket(std::string text, TVersionTable& rows, std::string& error);

// The version log packet for the entries: seven string columns and one ROW per entry,
// every attribute written even when empty. "" when it cannot be built.
std::string WriteVersionLogPacket(const TVersionTable& entries);

}  // namespace qvu
