// The pure parts of the service's wire format: the data packet reader and writer, the
// decoding of bodies, the address encoding and the failure texts.
#include <gtest/gtest.h>

#include <string>

#include "net/DataPacket.h"
#include "net/HttpClient.h"
#include "net/NetFailure.h"
#include "net/TextDecode.h"

namespace qvu {
namespace {

std::string Packet(const std::string& fields, const std::string& rows,
                   const std::string& prolog = "<?xml version=\"1.0\" standalone=\"yes\"?>") {
  return prolog + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields +
         "</FIELDS></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}
std::string Field(const std::string& name) {
  return "<FIELD attrname=\"" + name + "\" fieldtype=\"string\" width=\"100\"/>";
}

TEST(ReadVersionPacket, ReadsAllFifteenColumnsInRowOrder) {
  std::string fields, row1 = "<ROW", row2 = "<ROW";
  for (const char* column : kVersionColumns) {
    fields += Field(column);
    row1 += std::string(" ") + column + "=\"1" + column + "\"";
    row2 += std::string(" ") + column + "=\"2" + column + "\"";
  }
  TVersionTable rows;
  std::string error;
  ASSERT_EQ(ReadVersionPacket(Packet(fields, row1 + "/>" + row2 + "/>"), rows, error), PacketRead::Ok);
  ASSERT_EQ(rows.size(), 2u);
  for (int r = 0; r < 2; ++r)
    for (const char* column : kVersionColumns)
      EXPECT_EQ(*VersionField(rows[r], column), std::to_string(r + 1) + column) << column;
}

struct ReadCase {
  const char* name;
  std::string text;
  PacketRead outcome;
  std::vector<STVersion_tb> rows;
};

STVersion_tb Entry(std::string file, std::string ver = "", std::string note = "") {
  STVersion_tb v;
  v.FILENAME = std::move(file);
  v.VER_NO = std::move(ver);
  v.NOTE = std::move(note);
  return v;
}

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReadPacket : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadPacket, GivesRowsOrOutcome) {
  const ReadCase& c = GetParam();
  TVersionTable rows;
  std::string error;
  EXPECT_EQ(ReadVersionPacket(c.text, rows, error), c.outcome);
  if (c.outcome == PacketRead::Ok) {
    EXPECT_EQ(rows, c.rows);
  } else if (c.outcome == PacketRead::NotPacket) {
    EXPECT_FALSE(error.empty());
  }
}

const std::string kEvilDoctype =
    "<?xml version=\"1.0\"?><!DOCTYPE DATAPACKET [<!ENTITY a \"aaaaaaaaaa\">"
    "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY x SYSTEM \"file:///etc/passwd\">]>";

INSTANTIATE_TEST_SUITE_P(
    Table, ReadPacket,
    ::testing::Values(
        ReadCase{"emptyRowData", Packet(Field("FILENAME"), ""), PacketRead::Ok, {}},
        ReadCase{"lowerCaseColumns", Packet(Field("filename"), "<ROW filename=\"a\"/><ROW filename=\"b\"/>"),
                 PacketRead::Ok, {Entry(""), Entry("")}},
        ReadCase{"extraColumnIgnored", Packet(Field("FILENAME") + Field("COLOR"), "<ROW FILENAME=\"a\" COLOR=\"red\"/>"),
                 PacketRead::Ok, {Entry("a")}},
        // Only declared columns exist: a NOTE attribute without its FIELD is not read.
        ReadCase{"undeclaredColumn", Packet(Field("FILENAME"), "<ROW FILENAME=\"a\" NOTE=\"directory\"/>"),
                 PacketRead::Ok, {Entry("a")}},
        ReadCase{"missingAttribute", Packet(Field("FILENAME") + Field("VER_NO"), "<ROW VER_NO=\"1.0\"/>"),
                 PacketRead::Ok, {Entry("", "1.0")}},
        ReadCase{"escapes", Packet(Field("FILENAME"), "<ROW FILENAME=\"a&amp;b &quot;c&quot; &#x66F4;\"/>"),
                 PacketRead::Ok, {Entry("a&b \"c\" 更")}},
        ReadCase{"doctypeNeverExpanded", Packet(Field("FILENAME"), "<ROW FILENAME=\"&b;&x;\"/>", kEvilDoctype),
                 PacketRead::Ok, {Entry("&b;&x;")}},
        ReadCase{"html", "<html><body><p>Service down<br></body></html>", PacketRead::NotXml, {}},
        ReadCase{"emptyBody", "", PacketRead::NotXml, {}},
        ReadCase{"otherXml", "<?xml version=\"1.0\"?><html><body/></html>", PacketRead::NotPacket, {}},
        ReadCase{"noMetadata", "<DATAPACKET Version=\"2.0\"><ROWDATA/></DATAPACKET>", PacketRead::NotPacket, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Repeats a piece of text count times.
std::string Times(const std::string& piece, size_t count) {
  std::string out;
  out.reserve(piece.size() * count);
  for (size_t i = 0; i < count; ++i) out += piece;
  return out;
}

TEST(ReadVersionPacket, ARealListStaysFarInsideTheLimits) {
  // 10,000 entries with all fifteen columns filled as a service fills them.
  std::string fields, row = "<ROW";
  for (const char* column : kVersionColumns) {
    fields += Field(column);
    row += std::string(" ") + column + "=\"" + std::string(14, 'v') + "\"";
  }
  const std::string text = Packet(fields, Times(row + "/>", 10000));
  EXPECT_GT(text.size(), 2500000u);
  EXPECT_LT(text.size() * 2, kMaxPacketBytes);
  EXPECT_LE(10000 * 2, kMaxPacketRows);
  TVersionTable rows;
  std::string error;
  ASSERT_EQ(ReadVersionPacket(text, rows, error), PacketRead::Ok);
  EXPECT_EQ(rows.size(), 10000u);
}

TEST(ReadVersionPacket, PastALimitIsTooLarge) {
  const std::string fields = Field("FILENAME");
  const struct {
    const char* name;
    std::string text;
    PacketRead outcome;
  } cases[] = {
      {"rows at the limit", Packet(fields, Times("<ROW FILENAME=\"a\"/>", kMaxPacketRows)), PacketRead::Ok},
      {"one row more", Packet(fields, Times("<ROW/>", kMaxPacketRows + 1)), PacketRead::TooLarge},
      {"one byte more", Packet(fields, "") + std::string(kMaxPacketBytes, ' '), PacketRead::TooLarge},
      // Within the bytes, but the tree would be ten times their size.
      {"tiny elements", Packet(fields, Times("<a/>", 1800000)), PacketRead::TooLarge},
      {"empty attributes", Packet(fields, "<ROW" + Times(" a=\"\"", 1500000) + "/>"), PacketRead::TooLarge},
  };
  for (const auto& c : cases) {
    ASSERT_LE(c.text.size(), kMaxPacketBytes + 200) << c.name;
    TVersionTable rows;
    std::string error;
    EXPECT_EQ(ReadVersionPacket(c.text, rows, error), c.outcome) << c.name;
    EXPECT_EQ(rows.empty(), c.outcome != PacketRead::Ok) << c.name;
  }
  // The budget belonged to the refused read: the next one has its own.
  TVersionTable rows;
  std::string error;
  EXPECT_EQ(ReadVersionPacket(Packet(fields, "<ROW FILENAME=\"a\"/>"), rows, error), PacketRead::Ok);
  EXPECT_EQ(rows.size(), 1u);
}

TEST(WriteVersionLogPacket, WritesSevenColumnsAndEveryAttribute) {
  STVersion_tb v;
  v.SALONID = "S01";
  v.FILENAME = "a&b\"c<.exe";
  v.VER_NO = std::string(150, '9');
  v.REVISE_NO = " 3 ";
  v.FILE_DT = "2024/01/02 3:04:05";
  v.CATEGORY = "never sent";
  const std::string xml = WriteVersionLogPacket({v});
  EXPECT_EQ(xml,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
            "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
            "<FIELD attrname=\"SALONID\" fieldtype=\"string\" width=\"12\"/>"
            "<FIELD attrname=\"SHOP_CODE\" fieldtype=\"string\" width=\"20\"/>"
            "<FIELD attrname=\"FILENAME\" fieldtype=\"string\" width=\"100\"/>"
            "<FIELD attrname=\"VER_NO\" fieldtype=\"string\" width=\"100\"/>"
            "<FIELD attrname=\"REVISE_NO\" fieldtype=\"string\" width=\"100\"/>"
            "<FIELD attrname=\"FILE_DT\" fieldtype=\"string\" width=\"38\"/>"
            "<FIELD attrname=\"USE_DT\" fieldtype=\"string\" width=\"38\"/>"
            "</FIELDS></METADATA><ROWDATA>"
            "<ROW SALONID=\"S01\" SHOP_CODE=\"\" FILENAME=\"a&amp;b&quot;c&lt;.exe\" VER_NO=\"" +
                std::string(150, '9') +
                "\" REVISE_NO=\" 3 \" FILE_DT=\"2024/01/02 3:04:05\" USE_DT=\"\"/>"
                "</ROWDATA></DATAPACKET>");

  // It reads back unchanged through the reader of the version list.
  TVersionTable rows;
  std::string error;
  ASSERT_EQ(ReadVersionPacket(xml, rows, error), PacketRead::Ok);
  ASSERT_EQ(rows.size(), 1u);
  STVersion_tb expected = v;
  expected.CATEGORY.clear();
  EXPECT_EQ(rows[0], expected);
}

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::string charset;
  bool xmlDeclaration;
  std::string text;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, GivesUtf8) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(DecodeBody(c.bytes, c.charset, c.xmlDeclaration), c.text);
}

const std::string kSjisDecl = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>";

INSTANTIATE_TEST_SUITE_P(
    Table, Decode,
    ::testing::Values(
        DecodeCase{"charsetNamed", "\x8dX\x90V", "Shift_JIS", false, "更新"},
        DecodeCase{"charsetBeatsDeclaration", kSjisDecl + "更新", "utf-8", true, kSjisDecl + "更新"},
        DecodeCase{"declarationWhenNoCharset", kSjisDecl + "\x8dX\x90V", "", true, kSjisDecl + "更新"},
        DecodeCase{"declarationIgnoredForPlainText", "\x8dX", "", false, "\xEF\xBF\xBDX"},
        DecodeCase{"unknownCharsetFallsThrough", kSjisDecl + "\x8dX", "x-no-such", true, kSjisDecl + "更"},
        DecodeCase{"utf8ByDefault", "更新", "", true, "更新"},
        DecodeCase{"bomDropped", "\xEF\xBB\xBFOK", "", false, "OK"},
        DecodeCase{"utf16Bom", std::string("\xFF\xFEO\0K\0", 6), "", true, "OK"},
        DecodeCase{"invalidBytesReplaced", "a\xFF\xC0\x80z", "", false, "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},
        DecodeCase{"invalidInCharset", "a\x85", "Shift_JIS", false, "a\xEF\xBF\xBD"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CharsetOf, ReadsTheParameter) {
  EXPECT_EQ(CharsetOf("text/xml; charset=\"Shift_JIS\""), "Shift_JIS");
  EXPECT_EQ(CharsetOf("text/xml;Charset=utf-8;q=1"), "utf-8");
  EXPECT_EQ(CharsetOf("text/xml"), "");
}

TEST(EncodeUrl, EncodesOnlyWhatAnAddressCannotCarry) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"https://h/zeph/files/file/a b.zip", "https://h/zeph/files/file/a%20b.zip"},
      {"https://h/zeph/files/file/更新.zip", "https://h/zeph/files/file/%E6%9B%B4%E6%96%B0.zip"},
      {"https://h/q/api?SALONID=a%2Fb&CATEGORY=x y&STATUS=UP", "https://h/q/api?SALONID=a%2Fb&CATEGORY=x%20y&STATUS=UP"},
      {"https://h/a\tb\x7f", "https://h/a%09b%7F"},
      {"https://h:8443", "https://h:8443"},
      {"https://ホスト/x y", "https://ホスト/x%20y"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeUrl(c.in), c.out) << c.in;
}

TEST(FailureText, DownloadColumnAndTheRowsNoRequestProduces) {
  const struct {
    FailureColumn column;
    HttpFailure kind;
    const char* text;
  } cases[] = {
      {FailureColumn::Download, HttpFailure::Socket, "a.exeをバージョンアップする際にネットワークエラーが発生しました(Error = M)"},
      {FailureColumn::Download, HttpFailure::TlsConnect, "a.exeをバージョンアップする際にサーバ接続でエラーが発生しました(Error = M)"},
      {FailureColumn::Download, HttpFailure::MalformedAddress, "a.exeをバージョンアップする際にホスト名に異常が検出されました(Error = M)"},
      {FailureColumn::Download, HttpFailure::TlsLibrary, "a.exeをバージョンアップする際にSSLライブラリが見つかりません(Error = M)"},
      {FailureColumn::Download, HttpFailure::AlreadyConnected, "SSLライブラリが見つかりません(Error = M)"},
      {FailureColumn::Download, HttpFailure::ReadTimeout, "a.exeをバージョンアップする際にタイムアウトが発生しました(Error = M)"},
      {FailureColumn::Download, HttpFailure::HttpStatus, "a.exeのバージョンアップに失敗しました(ResponseCode = -1)"},
      {FailureColumn::Download, HttpFailure::Other, "a.exeのバージョンアップに失敗しました(ResponseCode = -1)"},
      {FailureColumn::VersionList, HttpFailure::AlreadyConnected, "SSLライブラリが見つかりません(Error = M)"},
      {FailureColumn::VersionLog, HttpFailure::AlreadyConnected, "例外エラー(ResponseCode = -1)"},
  };
  for (const auto& c : cases) EXPECT_EQ(FailureText(c.column, c.kind, "M", -1, "a.exe"), c.text);
}

}  // namespace
}  // namespace qvu
