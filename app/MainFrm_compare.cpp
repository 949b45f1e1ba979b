// Whether the copy on this machine is older than the service's entry. Only reads the disk.
#include "app/MainFrm.h"
#include "app/VersionText.h"
#include "support/Common.h"
#include "support/DateTime.h"
#include "support/Filesystem.h"

namespace qvu {

bool TMainFrm::IsVerChk(const std::string& existVer_No, const std::string& newVer_No,
                        bool& update) {
  if (existVer_No.empty() || newVer_No.empty()) return false;
  update = false;
  std::vector<std::string> have = SplitDelimitedText(existVer_No, '.');
  std::vector<std::string> want = SplitDelimitedText(newVer_No, '.');
  if (have.size() != want.size()) return false;
  // Each of the four positions on its own: any one larger on the service's side is newer,
  // and a larger local position does not cancel that. Missing positions count as 0.
  for (size_t i = 0; i < 4; ++i) {
    int32_t local = i < have.size() ? TextToInt(have[i]) : 0;
    int32_t remote = i < want.size() ? TextToInt(want[i]) : 0;
    if (local < remote) update = true;
  }
  return true;
}

bool TMainFrm::IsNewFile(const std::string& filePath, const std::string& ver_No,
                         const std::string& revise_No, const std::string& file_Dt) {
  if (filePath.empty()) return false;
  if (!FileExists(filePath)) return true;

  if (!ver_No.empty()) {
    std::string existVer_No = GetFileVersion(filePath);
    if (!existVer_No.empty()) {
      bool update = false;
      if (IsVerChk(existVer_No, ver_No, update)) return update;
      return CompareOrdinalUtf16(ver_No, existVer_No) > 0;
    }
  }

  if (!revise_No.empty()) {
    std::string local, error;
    if (GetRevisionNo(filePath, 9, local, error) && !local.empty())
      return CompareOrdinalUtf16(revise_No, local) > 0;
  }

  if (!file_Dt.empty()) {
    TDateTime local = GetFileTimeStamp(filePath);
    // A FILE_DT that is not a date-time raises the conversion error on purpose.
    TDateTime remote = TextToDateTime(file_Dt);
    return remote > local;
  }
  return false;
}

bool TMainFrm::IsNewDirectory(const std::string& directoryPath, const std::string& directoryDt) {
  if (directoryPath.empty()) return false;
  if (!DirectoryExists(directoryPath)) return true;
  if (directoryDt.empty()) return false;
  std::string stamp;
  if (!GetDirectoryTimeStamp(directoryPath, 2, stamp) || stamp.empty()) return false;
  return CompareOrdinalUtf16(directoryDt, stamp) > 0;
}

}  // namespace qvu
