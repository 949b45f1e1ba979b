// The revision number through the real structured storage. Wine keeps no property sets
// beside plain files as NTFS does: under Wine every plain file answers as a file system
// without them, and the storage code itself is checked against compound files, which hold
// their sets inside. The NTFS round trip of a plain file is checked on real Windows only.
// Wine also reads a string of a Unicode set (the kind PROPSETFLAG_DEFAULT makes) back cut
// short, so what the writer stored is checked in the set's own bytes, and the reader is
// checked on a set written in the ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>
#include <objbase.h>
#include <propidl.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "support/Filesystem.h"

namespace qvu {
namespace {

namespace fs = std::filesystem;

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

std::string Utf8(const fs::path& path) {
  std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

class RevisionNoWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    dir_ = fs::temp_directory_path() / ("qvu-revision-" + std::to_string(seed()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Plain(const char* name) {
    std::ofstream(dir_ / name) << "data";
    return Utf8(dir_ / name);
  }
  // A compound file, with an ANSI summary-information set holding title, author and the
  // given revision text (CP932 bytes, none when empty) when asked.
  std::string Compound(const char* name, bool withSummary, const std::string& revision = "") {
    std::wstring path = (dir_ / name).wstring();
    IStorage* storage = nullptr;
    EXPECT_EQ(StgCreateStorageEx(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_STORAGE, 0,
                                 nullptr, nullptr, IID_IStorage, reinterpret_cast<void**>(&storage)),
              S_OK);
    if (storage != nullptr && withSummary) {
      IPropertySetStorage* sets = nullptr;
      IPropertyStorage* set = nullptr;
      storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets));
      EXPECT_EQ(sets->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_ANSI,
                             STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &set),
                S_OK);
      PROPSPEC specs[3] = {{PRSPEC_PROPID, {PIDSI_TITLE}}, {PRSPEC_PROPID, {PIDSI_AUTHOR}},
                           {PRSPEC_PROPID, {PIDSI_REVNUMBER}}};
      PROPVARIANT values[3];
      std::string title = "title", author = "author", revisionText = revision;
      values[0].vt = values[1].vt = values[2].vt = VT_LPSTR;
      values[0].pszVal = title.data();
      values[1].pszVal = author.data();
      values[2].pszVal = revisionText.data();
      EXPECT_EQ(set->WriteMultiple(revision.empty() ? 2 : 3, specs, values, PID_FIRST_USABLE), S_OK);
      set->Release();
      sets->Release();
    }
    if (storage != nullptr) storage->Release();
    return Utf8(dir_ / name);
  }
  fs::path dir_;
};

TEST_F(RevisionNoWin32, MissingFile) {
  std::string value = "kept", error;
  EXPECT_FALSE(GetRevisionNo(Utf8(dir_ / "missing"), 9, value, error));
  EXPECT_EQ(error, "ファイルが存在しません");
  EXPECT_EQ(value, "kept");
  EXPECT_FALSE(SetRevisionNo(Utf8(dir_ / "missing"), 9, "1", error));
  EXPECT_EQ(error, "ファイルが存在しません");
}

TEST_F(RevisionNoWin32, PlainFilesUnderWineHoldNoSets) {
  if (!UnderWine()) GTEST_SKIP() << "NTFS keeps property sets beside any file";
  std::string file = Plain("plain.exe"), value, error;
  EXPECT_FALSE(SetRevisionNo(file, 9, "12", error));
  EXPECT_EQ(error, "IStorage未対応ファイルです");
  EXPECT_FALSE(GetRevisionNo(file, 9, value, error));
  EXPECT_EQ(error, "IStorage未対応ファイルです");
}

// The properties of the file's summary-information set as stored: id to type and the bytes
// of a string value with its terminating zero (UTF-16 in a Unicode set).
std::map<uint32_t, std::pair<uint32_t, std::string>> StoredSummary(const std::string& file) {
  std::map<uint32_t, std::pair<uint32_t, std::string>> properties;
  std::wstring path = fs::path(std::u8string(file.begin(), file.end())).wstring();
  IStorage* storage = nullptr;
  if (StgOpenStorageEx(path.c_str(), STGM_READ | STGM_SHARE_EXCLUSIVE, STGFMT_STORAGE, 0, nullptr, nullptr,
                       IID_IStorage, reinterpret_cast<void**>(&storage)) != S_OK)
    return properties;
  IStream* stream = nullptr;
  std::string bytes(4096, '\0');
  ULONG got = 0;
  if (storage->OpenStream(L"\005SummaryInformation", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream) == S_OK) {
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    stream->Release();
  }
  storage->Release();
  bytes.resize(got);
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  uint32_t section = u32(44), count = u32(section + 4);
  for (uint32_t i = 0; i < count && i < 64; ++i) {
    uint32_t id = u32(section + 8 + 8 * i), at = section + u32(section + 12 + 8 * i);
    uint32_t type = u32(at), size = u32(at + 4);
    std::string value;
    if (type == VT_LPSTR && at + 8 + size <= bytes.size()) value = bytes.substr(at + 8, size);
    properties[id] = {type, value};
  }
  return properties;
}

// The text in UTF-16 with its terminating zero.
std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return bytes + std::string(2, '\0');
}

TEST_F(RevisionNoWin32, CompoundFileWithoutSummaryInformation) {
  std::string file = Compound("bare.doc", false), value, error;
  EXPECT_FALSE(GetRevisionNo(file, 9, value, error));
  EXPECT_EQ(error, "IPropertyStorage;::Open() Error 80030002");
  EXPECT_TRUE(SetRevisionNo(file, 9, "12", error)) << error;
  auto stored = StoredSummary(file);
  EXPECT_EQ(stored[9], std::make_pair(uint32_t{VT_LPSTR}, Utf16Bytes(u"12")));
}

TEST_F(RevisionNoWin32, WritingReplacesTheWholeSet) {
  std::string file = Compound("full.doc", true), value, error;
  EXPECT_TRUE(SetRevisionNo(file, 9, "改訂12", error)) << error;
  auto stored = StoredSummary(file);
  // The code page and the revision number, nothing else; the text went through code page
  // 932 on its way into the set.
  EXPECT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[9].second, Utf16Bytes(u"改訂12"));
  EXPECT_TRUE(GetRevisionNo(file, PIDSI_TITLE, value, error)) << error;
  EXPECT_EQ(value, "");
}

TEST_F(RevisionNoWin32, ReadsTheAnsiTextOfTheSet) {
  std::string file = Compound("ansi.doc", true, "\x89\xFC\x92\xF9" "7"), value, error;
  EXPECT_TRUE(GetRevisionNo(file, 9, value, error)) << error;
  EXPECT_EQ(value, "改訂7");
  EXPECT_TRUE(GetRevisionNo(file, PIDSI_AUTHOR, value, error)) << error;
  EXPECT_EQ(value, "author");
  EXPECT_TRUE(GetRevisionNo(file, PIDSI_COMMENTS, value, error)) << error;  // not in the set
  EXPECT_EQ(value, "");
}

TEST_F(RevisionNoWin32, FileHeldOpenByAnotherIsASharingViolation) {
  std::string file = Compound("held.doc", true), value, error;
  HANDLE held = CreateFileW(fs::path(std::u8string(file.begin(), file.end())).wstring().c_str(), GENERIC_READ, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(SetRevisionNo(file, 9, "1", error));
  EXPECT_EQ(error, "StgOpenStorageEx Error 80030020");
  EXPECT_FALSE(GetRevisionNo(file, 9, value, error));
  EXPECT_EQ(error, "StgOpenStorageEx Error 80030020");
  CloseHandle(held);
}

}  // namespace
}  // namespace qvu
