// A light reading of a SELECT's text, for an engine whose driver refuses a query without
// saying why: the table it reads and the plain column names it asks for, so that the
// driver's catalogue can tell a missing table or column from a fault of the text itself.
#pragma once

#include <string>
#include <vector>

namespace qvu {

// The name after the first FROM outside quotes and brackets, without its brackets; "" when
// there is none.
std::string JetTableOfSelect(const std::string& query);

// The items of the select list that are plain names ("A", "[A b]"), without brackets;
// "*" and expressions are left out.
std::vector<std::string> JetSelectedNames(const std::string& query);

}  // namespace qvu
