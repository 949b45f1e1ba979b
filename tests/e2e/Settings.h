// SERVER.MDB for the end-to-end tests, written by the project's own make-settings-db.
#pragma once

#include <string>

namespace qvu::testing {

// Rows as make-settings-db reads them: SECTION, KEYNAME, KEYVAL, UPTIME separated by tabs.
std::string SettingsRows(const std::string& domain, const std::string& extraRows = "");
// Writes the database (password "plobk" unless passwordArgs says otherwise); fails the test
// when the tool fails.
void MakeSettingsDb(const std::string& file, const std::string& rows,
                    const std::string& passwordArg = "");

}  // namespace qvu::testing
