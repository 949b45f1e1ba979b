// What the layer checks itself before an engine sees a file: that it is there, can be read,
// and looks like a Jet database of a sound size. An engine is not trusted with anything less,
// and none of them reads the database password, which lies in this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvu {

// The file's header page (up to 4 KB). Throws the engine's error (JetErrors.h) for a missing
// or unreadable file and for one that is no Jet database.
std::vector<uint8_t> JetCheckedHeader(const std::string& path);

}  // namespace qvu
