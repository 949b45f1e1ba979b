// The revision number in the file's summary-information property set, through OLE
// structured storage: the storage system decides under STGFMT_ANY where a file's sets live
// (NTFS keeps them beside the data of any file; compound files hold them inside).
#include <windows.h>

#include <objbase.h>
#include <propidl.h>

#include "support/Filesystem.h"
#include "support/RevisionErrors.h"
#include "support/Typeconvert.h"
#include "support/WideText_win32.h"

namespace qvu {
namespace {

using namespace revision;

std::string OpenError(HRESULT result) {
  if (static_cast<uint32_t>(result) == kStgFileNotFound) return kNoFile;
  if (static_cast<uint32_t>(result) == kStgFileAlreadyExists) return kNoStorage;
  return WithCode("StgOpenStorageEx Error ", static_cast<uint32_t>(result));
}

// Releases what it holds on every way out.
template <typename Interface>
class Held {
 public:
  Held() = default;
  ~Held() {
    if (pointer != nullptr) pointer->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Interface* pointer = nullptr;
};

// True (and the step's error text set, with the result code) when the step failed; what it
// was to hand back is then nothing to release.
template <typename Interface>
bool Failed(HRESULT result, const char* step, Held<Interface>& received, std::string& errorText) {
  if (SUCCEEDED(result)) return false;
  received.pointer = nullptr;
  errorText = WithCode(step, static_cast<uint32_t>(result));
  return true;
}

PROPSPEC PropertyById(int propertyId) {
  PROPSPEC spec{};
  spec.ulKind = PRSPEC_PROPID;
  spec.propid = static_cast<PROPID>(propertyId);
  return spec;
}

// Opens the file's property-set storage and asks it for the interface once more (the
// second reference the sets are opened through); on failure the error text is set.
bool OpenSetStorage(const std::string& fileName, DWORD mode, Held<IPropertySetStorage>& first,
                    Held<IPropertySetStorage>& second, std::string& errorText) {
  HRESULT result = StgOpenStorageEx(WidePath(fileName).c_str(), mode, STGFMT_ANY, 0, nullptr, nullptr,
                                    IID_IPropertySetStorage, reinterpret_cast<void**>(&first.pointer));
  if (FAILED(result)) {
    first.pointer = nullptr;
    errorText = OpenError(result);
    return false;
  }
  result = first.pointer->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&second.pointer));
  return !Failed(result, "IPropertySetStorage::QueryInterface() Error ", second, errorText);
}

}  // namespace

bool GetRevisionNo(const std::string& fileName, int propertyId, std::string& value, std::string& errorText) {
  return WithExistingFile(fileName, errorText, [&] {
    value.clear();
    errorText.clear();
    Held<IPropertySetStorage> first, second;
    if (!OpenSetStorage(fileName, STGM_READ | STGM_SHARE_EXCLUSIVE, first, second, errorText)) return false;
    Held<IPropertyStorage> set;
    HRESULT result = second.pointer->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &set.pointer);
    if (Failed(result, "IPropertyStorage;::Open() Error ", set, errorText)) return false;
    PROPSPEC spec = PropertyById(propertyId);
    PROPVARIANT read;
    PropVariantInit(&read);
    result = set.pointer->ReadMultiple(1, &spec, &read);
    if (FAILED(result)) {
      errorText = WithCode("IPropertyStg::ReadMultiple() Error ", static_cast<uint32_t>(result)) + "\n";
      return false;
    }
    // An absent property reads as VT_EMPTY: the empty text. A wide string written by
    // another tool is taken as it is.
    if (read.vt == VT_LPSTR && read.pszVal != nullptr) value = FromAnsiCodePage(read.pszVal);
    if (read.vt == VT_LPWSTR && read.pwszVal != nullptr) value = NarrowFrom(read.pwszVal);
    PropVariantClear(&read);
    return true;
  });
}

bool SetRevisionNo(const std::string& fileName, int propertyId, const std::string& value, std::string& errorText) {
  return WithExistingFile(fileName, errorText, [&] {
    errorText.clear();
    Held<IPropertySetStorage> first, second;
    if (!OpenSetStorage(fileName, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, first, second, errorText)) return false;
    Held<IPropertyStorage> set;
    // STGM_CREATE replaces the whole set: the revision number is its only property after.
    HRESULT result = second.pointer->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_DEFAULT,
                                            STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set.pointer);
    if (Failed(result, "IPropertySetStorage::Create() Error ", set, errorText)) return false;
    PROPSPEC spec = PropertyById(propertyId);
    std::string ansi = ToAnsiCodePage(value);  // valid until the write has returned
    PROPVARIANT written;
    PropVariantInit(&written);
    written.vt = VT_LPSTR;
    written.pszVal = ansi.data();
    result = set.pointer->WriteMultiple(1, &spec, &written, PID_FIRST_USABLE);
    if (FAILED(result)) {
      errorText = WithCode("WriteMultiple::Create() Error ", static_cast<uint32_t>(result));
      return false;
    }
    // The set is in direct mode: releasing it stores the change.
    return true;
  });
}

}  // namespace qvu
