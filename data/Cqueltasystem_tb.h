// The settings table QUELTASYSTEM_TB, read whole into memory in one pass.
#pragma once

#include <string>
#include <vector>

#include "data/Cdb.h"

namespace qvu {

// One row; each field is the same-named column's value as text, whatever its type.
struct STCQueltaSystem_tb {
  std::string SECTION;
  std::string KEYNAME;
  std::string KEYVAL;
  std::string UPTIME;
};

class CQueltaSystem_tb : public CDB {
 public:
  // Reads every row of _sql on _fileName into _rows, in the order the database returns
  // them. False on failure with the reason in _errorMessage (nothing for an empty _sql);
  // rows read before a failure stay, the rest are empty. The connection is always closed.
  bool Select();

  std::vector<STCQueltaSystem_tb> _rows;
};

}  // namespace qvu
