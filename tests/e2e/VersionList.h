// Version lists as the service sends them: the client dataset data packet.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qvu::testing {

using Entry = std::map<std::string, std::string>;  // column name to value

// A data packet declaring all fifteen columns, one ROW per entry.
std::string VersionListXml(const std::vector<Entry>& entries);

}  // namespace qvu::testing
