// The update plan: the version list from the service, compared entry by entry with the disk.
#include <set>

#include "app/MainFrm.h"
#include "net/XmlMod.h"
#include "support/Filesystem.h"

namespace qvu {

std::string CandidateLine(const STVersion_tb& v) {
  if (!v.VER_NO.empty()) return v.FILENAME + " Ver " + v.VER_NO;
  if (!v.REVISE_NO.empty()) return v.FILENAME + " Ver " + v.REVISE_NO;
  return v.FILENAME;
}

std::string TMainFrm::TargetPath(const STVersion_tb& v) const {
  std::string name = ToLocalSeparators(v.FILENAME);
  return v.DIRECTORY.empty() ? _exePath + name : _exePath + ToLocalSeparators(v.DIRECTORY) + "/" + name;
}

ST_Proxy TMainFrm::ProxySettings() const {
  return ST_Proxy{GetProxyValue("USE"),      GetProxyValue("SERVER"),   GetProxyValue("PORT"),
                  GetProxyValue("USERNAME"), GetProxyValue("PASSWORD"), GetProxyValue("AUTH")};
}

bool TMainFrm::GetVersionList() {
  _versions.clear();
  xmlMod_._salonId = _salonId;
  xmlMod_._salonPw = _salonPw;
  xmlMod_._url = _verMgrUrl;
  xmlMod_._proxy = ProxySettings();
  if (xmlMod_.GetVersionInfo()) {
    _versions = xmlMod_._versions;
    return true;
  }
  _errorMessage = xmlMod_._errorMessage;
  return false;
}

void TMainFrm::MakeDownloadList() {
  _downloadFiles.clear();
  // The download folder and the backups are flat, named by FILENAME alone: a second
  // candidate of the same name would overwrite the first one's download and backup. It waits
  // for the next run, when the first is current.
  std::set<std::string> planned;
  for (const STVersion_tb& v : _versions) {
    if (v.FILENAME.empty()) continue;
    // Every name from the service is joined below the program folder; one that climbs out
    // of it or reaches the work folders is never planned, so it can never be downloaded over
    // or moved into place.
    if (!IsConfinedName(v.FILENAME) || !IsConfinedName(v.ZIPFILENAME) ||
        !IsConfinedName(v.DIRECTORY))
      continue;
    std::string local = TargetPath(v);
    bool newer = v.IsDirectoryEntry() ? IsNewDirectory(local, v.FILE_DT)
                                      : IsNewFile(local, v.VER_NO, v.REVISE_NO, v.FILE_DT);
    if (newer && planned.insert(ToLocalSeparators(v.FILENAME)).second)
      _downloadFiles.push_back(STDownloadFiles{"", v, false});
  }
  view_.ListBox1Clear();
  for (const STDownloadFiles& c : _downloadFiles) {
    view_.ListBox1Add(CandidateLine(c.version));
    view_.Repaint();
  }
  view_.SetUpdateButtonVisible(!_downloadFiles.empty());
}

bool TMainFrm::Get7ZipLibrary() {
  _downloadPath = _exePath;
  STDownloadFiles library;
  library.localPath = _exePath + "7-ZIP32.DLL";
  library.version.FILENAME = "7-ZIP32.DLL";
  // The file area holds the library under its own name.
  library.version.ZIPFILENAME = "7-ZIP32.DLL";
  library.version.URL = _verMgrUrl + "7-ZIP32.DLL";
  _downloadFiles.assign(1, library);
  _showProgress = false;
  return DownloadNewFiles();
}

}  // namespace qvu
