#include "data/Cversion_tb.h"

namespace qvu {

const char* const kVersionColumns[15] = {"SALONID", "SHOP_CODE", "CATEGORY", "FILENAME",
                                         "ZIPFILENAME", "STATUS", "VER_NO", "REVISE_NO",
                                         "FILE_DT", "UP_DT", "USE_DT", "URL", "DIRECTORY",
                                         "NOTE", "UPTIME"};

std::string* VersionField(STVersion_tb& v, const std::string& c) {
  std::string* fields[15] = {&v.SALONID, &v.SHOP_CODE, &v.CATEGORY,  &v.FILENAME, &v.ZIPFILENAME,
                             &v.STATUS,  &v.VER_NO,    &v.REVISE_NO, &v.FILE_DT,  &v.UP_DT,
                             &v.USE_DT,  &v.URL,       &v.DIRECTORY, &v.NOTE,     &v.UPTIME};
  for (int i = 0; i < 15; ++i)
    if (c == kVersionColumns[i]) return fields[i];
  return nullptr;
}

}  // namespace qvu
