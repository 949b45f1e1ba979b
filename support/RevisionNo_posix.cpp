#include <sys/xattr.h>

#include <cerrno>
#include <new>
#include <vector>

#include "support/Filesystem.h"
#include "support/PropertySet.h"
#include "support/RevisionErrors.h"

namespace qvu {
namespace {

using namespace revision;

ssize_t DefaultGet(const char* path, const char* name, void* value, size_t size) {
  return ::getxattr(path, name, value, size);
}
int DefaultSet(const char* path, const char* name, const void* value, size_t size, int flags) {
  return ::setxattr(path, name, value, size, flags);
}

// The attribute of a file is at most XATTR_SIZE_MAX bytes.
constexpr size_t kMaxAttributeSize = 65536;

// What opening the file's property sets would have answered, given the attribute call's
// errno; an empty text when the failure belongs to a later step.
std::string OpenError(int err, bool writing) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kNoFile;  // removed since the existence check
    case ENOTSUP:      // also EOPNOTSUPP: the file system keeps no user attributes
      return kNoStorage;
    case EACCES:
    case EPERM:
    case EROFS:
      return WithCode("StgOpenStorageEx Error ", kStgAccessDenied);
    case ENOMEM:
      return WithCode("StgOpenStorageEx Error ", kStgInsufficientMemory);
    default:
      return writing ? std::string() : WithCode("StgOpenStorageEx Error ", kStgReadFault);
  }
}

std::string WriteError(int err) {
  uint32_t code = kStgWriteFault;
  if (err == ENOSPC || err == EDQUOT || err == E2BIG || err == ERANGE) code = kStgMediumFull;
  if (err == ENOMEM) code = kStgInsufficientMemory;
  return WithCode("WriteMultiple::Create() Error ", code);
}

}  // namespace

AttributeCalls& SummaryAttributeCalls() {
  static AttributeCalls calls{DefaultGet, DefaultSet};
  return calls;
}

bool GetRevisionNo(const std::string& fileName, int propertyId, std::string& value,
                   std::string& errorText) {
  return WithExistingFile(fileName, errorText, [&] {
    value.clear();
    errorText.clear();
    std::string bytes(kMaxAttributeSize, '\0');
    ssize_t got = SummaryAttributeCalls().get(fileName.c_str(), kSummaryInformationAttribute,
                                              bytes.data(), bytes.size());
    if (got < 0) {
      int err = errno;
      if (err == ENODATA)  // the file carries no summary information yet
        errorText = WithCode("IPropertyStorage;::Open() Error ", kStgFileNotFound);
      else if (err == ERANGE)
        errorText = WithCode("IPropertyStorage;::Open() Error ", kStgInvalidHeader);
      else
        errorText = OpenError(err, false);
      return false;
    }
    bytes.resize(static_cast<size_t>(got));
    std::vector<SummaryProperty> properties;
    if (!DecodeSummaryInformation(bytes, properties)) {
      errorText = WithCode("IPropertyStorage;::Open() Error ", kStgInvalidHeader);
      return false;
    }
    // A property of another type is not a revision text: it reads as absent.
    for (const SummaryProperty& p : properties)
      if (p.id == static_cast<uint32_t>(propertyId)) {
        if (p.IsText()) value = p.text;
        break;
      }
    return true;
  });
}

bool SetRevisionNo(const std::string& fileName, int propertyId, const std::string& value,
                   std::string& errorText) {
  return WithExistingFile(fileName, errorText, [&] {
    errorText.clear();
    uint32_t id = static_cast<uint32_t>(propertyId);
    if (id < kPidFirstUsable || id > 0x7FFFFFFF || value.size() >= kMaxAttributeSize) {
      errorText = WithCode("WriteMultiple::Create() Error ", kStgInvalidParameter);
      return false;
    }
    // One set call replaces the whole set at once: other summary properties are dropped, and
    // a reader sees either the old set or the new one, never a mix.
    std::string bytes = EncodeSummaryInformation(id, value);
    if (SummaryAttributeCalls().set(fileName.c_str(), kSummaryInformationAttribute, bytes.data(),
                                    bytes.size(), 0) != 0) {
      int err = errno;
      errorText = OpenError(err, true);
      if (errorText.empty()) errorText = WriteError(err);
      return false;
    }
    return true;
  });
}

}  // namespace qvu
