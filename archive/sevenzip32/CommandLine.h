// The command language the library understands: a 7-Zip-style command line.
#pragma once

#include <string>

namespace sevenzip32 {

enum class Overwrite { All, Skip };

struct Command {
  std::string archive;       // as given; backslashes are separators
  std::string outputFolder;  // empty: the current directory
  Overwrite overwrite = Overwrite::All;
  bool hasPassword = false;
  std::string password;
};

// Blanks separate tokens; a double quote opens or closes a quoted stretch anywhere in a
// token, and inside one a doubled quote stands for one quote. A token is a switch when it
// begins with an unquoted "-" (until a "--" token). Only "x" with one archive name is
// accepted; on false, reason says why.
bool ParseCommandLine(const char* commandLine, Command& command, std::string& reason);

}  // namespace sevenzip32
