// The summary-information property set of a file, as the updater keeps it on Linux: a
// property-set stream (the OLE serialised format: byte order mark, one section with its
// FMTID, id/offset pairs and typed values) stored in one user extended attribute.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvu {

// The one place the attribute is named: every reader, writer and copier uses this.
inline constexpr char kSummaryInformationAttribute[] = "user.qvu.SummaryInformation";

// Property types the updater understands; any other type is carried as its number only.
inline constexpr uint16_t kVtI2 = 2;
inline constexpr uint16_t kVtI4 = 3;
inline constexpr uint16_t kVtLpstr = 30;
inline constexpr uint16_t kVtLpwstr = 31;

inline constexpr uint32_t kPidCodePage = 1;
// Ids 0 (dictionary), 1 (code page) and the high reserved ids are not free for strings.
inline constexpr uint32_t kPidFirstUsable = 2;

struct SummaryProperty {
  uint32_t id = 0;
  uint16_t type = 0;
  std::string text;    // string types, converted to UTF-8 from the set's code page
  int32_t number = 0;  // kVtI2, kVtI4
  bool IsText() const { return type == kVtLpstr || type == kVtLpwstr; }
};

// A stream holding the summary-information set with code page 65001 (UTF-8) and the single
// VT_LPSTR property `id`. `id` must be a usable id (kPidFirstUsable up to 0x7FFFFFFF).
std::string EncodeSummaryInformation(uint32_t id, const std::string& text);

// False for anything that is not a well-formed stream with a summary-information section.
// Never reads outside `bytes`, whatever they hold.
bool DecodeSummaryInformation(const std::string& bytes, std::vector<SummaryProperty>& properties);

// The attribute calls behind the revision number, with getxattr/setxattr's contracts (-1 and
// errno on failure). Tests swap them to meet failures no test file system gives on demand.
struct AttributeCalls {
  ssize_t (*get)(const char* path, const char* name, void* value, size_t size);
  int (*set)(const char* path, const char* name, const void* value, size_t size, int flags);
};
AttributeCalls& SummaryAttributeCalls();

}  // namespace qvu
