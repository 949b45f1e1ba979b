#include "archive/7_zip.h"

#include "archive/LibraryLoader.h"

namespace qvu {
namespace {

// Window handle, command line, output buffer and its size; BOOL.
using SevenZipFunction = int(QVU_LIBRARY_CALL*)(void*, const char*, char*, unsigned long);
using SevenZipGetRunningFunction = int(QVU_LIBRARY_CALL*)(void);

// Loads the library and finds one entry point; on failure the code to return. A handle is
// closed only when the entry point is missing: a library that was used stays loaded.
template <typename Function>
int32_t Bind(const std::string& libraryName, const char* entryPoint, Function& function) {
  void* handle = LoadLibraryAt(libraryName);
  if (handle == nullptr) return k7ZipLinkError;
  function = reinterpret_cast<Function>(FindEntryPoint(handle, entryPoint));
  if (function == nullptr) {
    ReleaseLibrary(handle);
    return k7ZipNoEntryPoint;
  }
  return k7ZipSuccess;
}

// Q(x): x in double quotes, every double quote inside doubled.
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

}  // namespace

int32_t Exec7Zip(const std::string& libraryName, const std::string& commandLine) {
  if (libraryName.empty()) return k7ZipNoLibraryName;
  if (commandLine.empty()) return k7ZipNoCommandLine;
  SevenZipFunction sevenZip = nullptr;
  int32_t bound = Bind(libraryName, "SevenZip", sevenZip);
  if (bound != k7ZipSuccess) return bound;
  char output[128] = {};
  return sevenZip(nullptr, commandLine.c_str(), output, sizeof output) == 0 ? k7ZipSuccess : k7ZipFailed;
}

int32_t Get7ZipRunning(const std::string& libraryName) {
  // An empty name would make the loader hand back the program itself.
  if (libraryName.empty()) return k7ZipLinkError;
  SevenZipGetRunningFunction getRunning = nullptr;
  int32_t bound = Bind(libraryName, "SevenZipGetRunning", getRunning);
  if (bound != k7ZipSuccess) return bound;
  // The answer is a boolean of which only the low byte counts.
  return (getRunning() & 0xFF) != 0 ? k7ZipRunning : k7ZipIdle;
}

std::string Get7ZipMessage(int32_t code) {
  switch (code) {
    case k7ZipSuccess: return "成功しました";
    case k7ZipNoLibraryName: return "DLLファイルが見つかりません";
    case k7ZipNoCommandLine: return "引数がありません";
    case k7ZipLinkError: return "DLLリンクエラー";
    case k7ZipRunning: return "実行中";
    case k7ZipIdle: return "実行可能状態";
    case k7ZipFailed: return "失敗しました";
    case k7ZipNoEntryPoint: return "DLLの実行に失敗しました";
    default: return "定義外メッセージ";
  }
}

std::string MakeUnzipCommandLine(const std::string& archivePath, const std::string& destinationFolder) {
  try {
    std::string line = "x " + Quoted(archivePath) + " ";
    if (!destinationFolder.empty()) line += " -o" + Quoted(destinationFolder);
    return line + " -hide -aoa ";
  } catch (...) {
    return "";  // Exec7Zip answers an empty command line with its own code
  }
}

}  // namespace qvu
