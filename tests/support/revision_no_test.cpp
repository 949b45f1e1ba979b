#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "support/Filesystem.h"
#include "support/PropertySet.h"
#include "tests/support/TempDir.h"

namespace qvu {
namespace {

// An encoder of property-set streams of the test's own, so that the reader is checked
// against the format rather than against its twin in the product.
namespace stream {
std::string U16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string Padded(std::string s) {
  while (s.size() % 4) s.push_back('\0');
  return s;
}
std::string I2(int16_t v) { return Padded(U32(2) + U16(static_cast<uint16_t>(v))); }
std::string I4(int32_t v) { return U32(3) + U32(static_cast<uint32_t>(v)); }
std::string Lpstr(const std::string& bytes) {
  return Padded(U32(30) + U32(static_cast<uint32_t>(bytes.size() + 1)) + bytes + '\0');
}
std::string Lpwstr(const std::u16string& text) {
  std::string s = U32(31) + U32(static_cast<uint32_t>(text.size() + 1));
  for (char16_t c : text) s += U16(c);
  return Padded(s + U16(0));
}
// Code page 1200 keeps VT_LPSTR in UTF-16; the size counts bytes.
std::string Lpstr1200(const std::u16string& text) {
  std::string s;
  for (char16_t c : text) s += U16(c);
  s += U16(0);
  return Padded(U32(30) + U32(static_cast<uint32_t>(s.size())) + s);
}
const std::string kSummaryFmtid("\xE0\x85\x9F\xF2\xF9\x4F\x68\x10\xAB\x91\x08\x00\x2B\x27\xB3\xD9", 16);
std::string Set(const std::vector<std::pair<uint32_t, std::string>>& props,
                const std::string& fmtid = kSummaryFmtid) {
  std::string pairs, values;
  uint32_t at = static_cast<uint32_t>(8 + 8 * props.size());
  for (const auto& [id, value] : props) {
    pairs += U32(id) + U32(at + static_cast<uint32_t>(values.size()));
    values += value;
  }
  std::string section = U32(static_cast<uint32_t>(8 + pairs.size() + values.size())) +
                        U32(static_cast<uint32_t>(props.size())) + pairs + values;
  return U16(0xFFFE) + U16(0) + U32(0x00020006) + std::string(16, '\0') + U32(1) + fmtid +
         U32(48) + section;
}
}  // namespace stream

class RevisionNo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    test::WriteFile(file_, "content");
  }
  void StoreAttribute(const std::string& bytes) {
    ASSERT_EQ(setxattr(file_.c_str(), kSummaryInformationAttribute, bytes.data(), bytes.size(), 0), 0);
  }
  std::string StoredAttribute() {
    std::string bytes(65536, '\0');
    ssize_t n = getxattr(file_.c_str(), kSummaryInformationAttribute, bytes.data(), bytes.size());
    bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return bytes;
  }
  test::TempDir dir_;
  std::string file_ = dir_ / "app.exe";
};

TEST_F(RevisionNo, WrittenValueReadsBackAndKeepsTheFileTimes) {
  struct stat before {};
  ASSERT_EQ(stat(file_.c_str(), &before), 0);
  for (const std::string& value : {std::string("12"), std::string(), std::string("改訂3"),
                                   std::string("13"), std::string(3000, '7')}) {
    std::string error = "stale", read = "stale";
    ASSERT_TRUE(SetRevisionNo(file_, 9, value, error)) << error;
    EXPECT_EQ(error, "");
    ASSERT_TRUE(GetRevisionNo(file_, 9, read, error)) << error;
    EXPECT_EQ(read, value);
    EXPECT_EQ(error, "");
  }
  struct stat after {};
  ASSERT_EQ(stat(file_.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(test::ReadFile(file_), "content");
}

TEST_F(RevisionNo, StoredAsAPropertySetStream) {
  std::string error;
  ASSERT_TRUE(SetRevisionNo(file_, 9, "12", error)) << error;
  EXPECT_EQ(StoredAttribute(), stream::Set({{1, stream::I2(-535)}, {9, stream::Lpstr("12")}}));
}

TEST_F(RevisionNo, WritingReplacesTheWholeSet) {
  StoreAttribute(stream::Set({{1, stream::I2(1252)}, {2, stream::Lpstr("Title")},
                              {4, stream::Lpstr("Author")}}));
  std::string value, error;
  ASSERT_TRUE(GetRevisionNo(file_, 2, value, error)) << error;
  EXPECT_EQ(value, "Title");
  ASSERT_TRUE(SetRevisionNo(file_, 9, "12", error)) << error;
  for (int id : {2, 4}) {
    ASSERT_TRUE(GetRevisionNo(file_, id, value, error)) << error;
    EXPECT_EQ(value, "") << id;
  }
  std::vector<SummaryProperty> props;
  ASSERT_TRUE(DecodeSummaryInformation(StoredAttribute(), props));
  std::vector<uint32_t> ids;
  for (const auto& p : props) ids.push_back(p.id);
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 9}));
}

TEST_F(RevisionNo, ReadsWhatOtherWritersStore) {
  const std::string e800300fb = "IPropertyStorage;::Open() Error 800300fb";
  const std::string valid = stream::Set({{9, stream::Lpstr("12")}});
  struct Case {
    const char* what;
    std::optional<std::string> attribute;
    bool ok;
    const char* value;
    std::string error;
  } cases[] = {
      {"no set yet", std::nullopt, false, "", "IPropertyStorage;::Open() Error 80030002"},
      {"set without the property",
       stream::Set({{1, stream::I2(1252)}, {2, stream::Lpstr("Title")}}), true, "", ""},
      {"no code page property", valid, true, "12", ""},
      {"wide string", stream::Set({{9, stream::Lpwstr(u"改訂7")}}), true, "改訂7", ""},
      {"code page 1200", stream::Set({{1, stream::I2(1200)}, {9, stream::Lpstr1200(u"r5")}}), true,
       "r5", ""},
      {"code page 932", stream::Set({{1, stream::I2(932)}, {9, stream::Lpstr("\x94\xc5")}}), true,
       "版", ""},
      {"a number is no revision text", stream::Set({{9, stream::I4(12)}}), true, "", ""},
      {"empty attribute", std::string(), false, "", e800300fb},
      {"text", std::string("12"), false, "", e800300fb},
      {"wrong byte order", "\xFF\xFE" + valid.substr(2), false, "", e800300fb},
      {"another set", stream::Set({{9, stream::Lpstr("12")}}, std::string(16, 'x')), false, "",
       e800300fb},
      {"cut short", valid.substr(0, valid.size() - 4), false, "", e800300fb},
      {"string longer than its section",
       stream::Set({{9, stream::U32(30) + stream::U32(1000) + "12\0\0"}}), false, "", e800300fb},
      {"offset outside the section", stream::Set({{9, ""}}), false, "", e800300fb},
      {"code page of the wrong type", stream::Set({{1, stream::I4(65001)}, {9, stream::Lpstr("1")}}),
       false, "", e800300fb},
  };
  for (const auto& c : cases) {
    removexattr(file_.c_str(), kSummaryInformationAttribute);
    if (c.attribute) StoreAttribute(*c.attribute);
    std::string value = "stale", error = "stale";
    EXPECT_EQ(GetRevisionNo(file_, 9, value, error), c.ok) << c.what;
    EXPECT_EQ(value, c.value) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
}

TEST_F(RevisionNo, FilesThatCannotHoldTheSet) {
  ASSERT_EQ(mkdir((dir_ / "folder").c_str(), 0700), 0);
  struct Case { std::string path; std::string error; } cases[] = {
      {dir_ / "missing", "ファイルが存在しません"},
      {dir_ / "folder", "ファイルが存在しません"},
      {"", "ファイルが存在しません"},
      {"/proc/self/status", "IStorage未対応ファイルです"},  // procfs keeps no user attributes
  };
  for (const auto& c : cases) {
    std::string value = "kept", error;
    EXPECT_FALSE(GetRevisionNo(c.path, 9, value, error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
    if (c.error == "ファイルが存在しません") {
      EXPECT_EQ(value, "kept") << c.path;
    }
    error.clear();
    EXPECT_FALSE(SetRevisionNo(c.path, 9, "12", error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
  std::string error;
  EXPECT_FALSE(SetRevisionNo(file_, 1, "12", error));  // the code page's id is not free
  EXPECT_EQ(error, "WriteMultiple::Create() Error 80030057");
}

// Failures a test file system will not give on demand, through the attribute seam.
int g_errno = 0;
ssize_t FailingGet(const char*, const char*, void*, size_t) { return errno = g_errno, -1; }
int FailingSet(const char*, const char*, const void*, size_t, int) { return errno = g_errno, -1; }

TEST_F(RevisionNo, AttributeFailuresReadAsStorageErrors) {
  struct Restore {
    AttributeCalls saved = SummaryAttributeCalls();
    ~Restore() { SummaryAttributeCalls() = saved; }
  } restore;
  SummaryAttributeCalls() = {FailingGet, FailingSet};
  struct Case { int err; const char* get; const char* set; } cases[] = {
      {EACCES, "StgOpenStorageEx Error 80030005", "StgOpenStorageEx Error 80030005"},
      {EROFS, "StgOpenStorageEx Error 80030005", "StgOpenStorageEx Error 80030005"},
      {EIO, "StgOpenStorageEx Error 8003001e", "WriteMultiple::Create() Error 8003001d"},
      {ENOSPC, "StgOpenStorageEx Error 8003001e", "WriteMultiple::Create() Error 80030070"},
      {ENOENT, "ファイルが存在しません", "ファイルが存在しません"},  // removed meanwhile
  };
  for (const auto& c : cases) {
    g_errno = c.err;
    std::string value, error;
    EXPECT_FALSE(GetRevisionNo(file_, 9, value, error)) << c.err;
    EXPECT_EQ(error, c.get) << c.err;
    EXPECT_FALSE(SetRevisionNo(file_, 9, "12", error)) << c.err;
    EXPECT_EQ(error, c.set) << c.err;
  }
}

}  // namespace
}  // namespace qvu
