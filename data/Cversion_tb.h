// One entry of the version list: a file or folder of the installation as the service
// describes it. Every field is a text; "" means the service gave no value.
#pragma once

#include <string>
#include <vector>

namespace qvu {

struct STVersion_tb {
  std::string SALONID;
  std::string SHOP_CODE;
  std::string CATEGORY;
  std::string FILENAME;
  std::string ZIPFILENAME;
  std::string STATUS;
  std::string VER_NO;
  std::string REVISE_NO;
  std::string FILE_DT;
  std::string UP_DT;
  std::string USE_DT;
  std::string URL;
  std::string DIRECTORY;
  std::string NOTE;
  std::string UPTIME;

  bool operator==(const STVersion_tb&) const = default;

  // An entry whose NOTE is exactly "directory" stands for a folder.
  bool IsDirectoryEntry() const { return NOTE == "directory"; }
};

// The version table: an ordered, growable array. Element access outside it is a
// programming error (use at() where an index comes from outside).
using TVersionTable = std::vector<STVersion_tb>;

// The fifteen column names in field order, and access to a field by column name
// (nullptr for any other name; exact, case-sensitive).
extern const char* const kVersionColumns[15];
std::string* VersionField(STVersion_tb& v, const std::string& column);

}  // namespace qvu
