// CDB and the settings table over real Access files, damaged files and files with a
// password; every value read is checked against what mdb-export prints.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "data/Cdb.h"
#include "data/Cqueltasystem_tb.h"
#include "support/DateTime.h"
#include "support/Typeconvert.h"
#include "tests/data/data_fixtures.h"

namespace qvu {
namespace {

using test::RealDatabase;
using Rows = std::vector<std::vector<std::string>>;

const int32_t kFormatError = static_cast<int32_t>(0x80004005);

// Reads a whole table through CDB as the settings table does: every field of every record,
// turned into text.
struct TableDump : CDB {
  std::vector<std::string> header;
  Rows rows;
  bool Read(const std::string& path, const std::string& table) {
    _fileName = path;
    _sql = "SELECT * FROM [" + table + "]";
    if (!Connect()) return false;
    bool ok = OpenQuery();
    if (ok) {
      header = _dataSet->FieldNames();
      for (int i = 0; i < _recordCount; ++i) {
        std::vector<std::string> row;
        for (const std::string& name : header) row.push_back(VariantToText(_dataSet->FieldValue(name)));
        rows.push_back(row);
        _dataSet->Next();
      }
      CloseQuery();
    }
    Disconnect();
    return ok;
  }
};

// mdb-export's CSV: fields quoted with doubled quotes when they are texts, which may hold
// line breaks.
Rows ParseCsv(const std::string& text) {
  Rows rows(1);
  std::string field;
  bool quoted = false, any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = any = true;
    } else if (c == ',' || c == '\n') {
      rows.back().push_back(field);
      field.clear();
      if (c == '\n') rows.emplace_back();
    } else {
      field += c;
      any = true;
    }
  }
  if (!rows.back().empty() || !field.empty()) rows.back().push_back(field);
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

std::string MdbExport(const std::string& path, const std::string& table) {
  std::string command = "mdb-export -D '%Y/%m/%d %H:%M:%S' -T '%Y/%m/%d %H:%M:%S' '" + path + "' '" + table + "'";
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  EXPECT_EQ(::pclose(pipe), 0) << command;
  return out;
}

// mdb-export writes dates as asked, "yyyy/mm/dd HH:MM:SS", where the program drops the time
// at midnight and the hour's leading zero (mdb-export also rounds to the second where the
// program drops the fraction; see SameDate); money with four decimals, where the program keeps
// only the significant ones; booleans as 1 and 0, where the program says True and False.
enum class Kind { Plain, Date, Money, Bool, Skip };

std::string Normalise(Kind kind, const std::string& v) {
  if (v.empty()) return v;
  switch (kind) {
    case Kind::Date: {
      std::string date = v.substr(0, 10), time = v.substr(11);
      if (time == "00:00:00") return date;
      if (time[0] == '0') time.erase(0, 1);
      return date + " " + time;
    }
    case Kind::Money: {
      std::string out = v;
      while (out.back() == '0') out.pop_back();
      if (out.back() == '.') out.pop_back();
      return out;
    }
    case Kind::Bool:
      return v == "1" ? "True" : "False";
    default:
      return v;
  }
}

// Jet keeps fractions of seconds; mdb-export rounds them, the program drops them as its
// platform's date formatting does. So the program's text is mdb-export's or one second less.
bool SameDate(const std::string& ours, const std::string& theirs) {
  if (ours == theirs) return true;
  TDateTime a, b;
  if (!TryTextToDateTime(ours, a) || !TryTextToDateTime(theirs, b)) return false;
  return std::abs((b - a) * 86400 - 1) < 1e-3;
}

TEST(CdbRealFiles, EveryValueAsMdbExportPrintsIt) {
  struct Case {
    std::string file, table;
    std::map<std::string, Kind> kinds;  // columns that need normalising; the rest are plain
  } cases[] = {
      {"access2000-types.mdb", "Table1", {{"G", Kind::Date}, {"H", Kind::Money}, {"I", Kind::Bool}}},
      {"access2000-types.mdb", "Table2", {}},  // 89 columns, no rows
      {"access2000-types.mdb", "Table4", {}},  // a replication id column, no rows
      {"access2003-unicode.mdb", "Table", {}},
      // Binary columns have no text in the program; mdb-export prints their raw bytes.
      {"empty-access2000.mdb",
       "MSysObjects",
       {{"DateCreate", Kind::Date}, {"DateUpdate", Kind::Date}, {"Owner", Kind::Skip},
        {"Lv", Kind::Skip}, {"LvProp", Kind::Skip}, {"LvModule", Kind::Skip}, {"LvExtra", Kind::Skip},
        {"RmtInfoShort", Kind::Skip}, {"RmtInfoLong", Kind::Skip}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " " + c.table);
    std::string path = RealDatabase(c.file);
    Rows expected = ParseCsv(MdbExport(path, c.table));
    ASSERT_FALSE(expected.empty());
    TableDump dump;
    ASSERT_TRUE(dump.Read(path, c.table)) << dump._errorMessage;
    EXPECT_EQ(dump.header, expected[0]);
    ASSERT_EQ(dump.rows.size(), expected.size() - 1);
    for (size_t r = 0; r < dump.rows.size(); ++r) {
      for (size_t f = 0; f < dump.header.size(); ++f) {
        auto k = c.kinds.find(dump.header[f]);
        Kind kind = k == c.kinds.end() ? Kind::Plain : k->second;
        if (kind == Kind::Skip) continue;
        std::string theirs = Normalise(kind, expected[r + 1].at(f));
        if (kind == Kind::Date)
          EXPECT_TRUE(SameDate(dump.rows[r][f], theirs)) << dump.rows[r][f] << " / " << theirs;
        else
          EXPECT_EQ(dump.rows[r][f], theirs) << "row " << r << " field " << dump.header[f];
      }
    }
  }
}

TEST(Cdb, ConnectionStringAsTheProviderExpectsIt) {
  EXPECT_EQ(CDB::ConnectionString("SERVER.MDB"),
            "Provider=Microsoft.Jet.OLEDB.4.0;Data Source = SERVER.MDB;Mode=ReadWrite|Share Deny None;"
            "Persist Security Info=False;Jet OLEDB:Database Password = plobk");
}

TEST(Cdb, MissingFileIsReportedBeforeTheEngine) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.Path("folder.mdb"));
  const std::pair<std::string, std::string> cases[] = {
      {"", dir.Path("nope.mdb")},
      {dir.Path(""), "nope.mdb"},
      {"", dir.Path("folder.mdb")},
  };
  for (const auto& [directory, fileName] : cases) {
    CDB db;
    db._directory = directory;
    db._fileName = fileName;
    db._errorCode = 123;
    EXPECT_FALSE(db.Connect());
    EXPECT_EQ(db._errorCode, 0);
    EXPECT_EQ(db._errorMessage, directory + fileName + "が見つかりませんでした");
    EXPECT_EQ(db._connection, nullptr);
  }
}

TEST(Cdb, BareNameIsLookedForInTheCurrentDirectory) {
  test::TempDir dir;
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path(""));
  CDB missing;
  missing._fileName = "SERVER.MDB";
  EXPECT_FALSE(missing.Connect());
  EXPECT_EQ(missing._errorMessage, "SERVER.MDBが見つかりませんでした");

  test::WriteBytes("SERVER.MDB", test::ReadBytes(RealDatabase("access2003-unicode.mdb")));
  CDB present;
  present._fileName = "SERVER.MDB";
  present._sql = "SELECT * FROM [Table]";
  EXPECT_TRUE(present.Connect()) << present._errorMessage;
  EXPECT_TRUE(present.OpenQuery()) << present._errorMessage;
  EXPECT_EQ(present._recordCount, 8);
  EXPECT_TRUE(present.CloseQuery());
  EXPECT_TRUE(present.Disconnect());
  std::filesystem::current_path(before);
}

TEST(Cdb, DamagedFilesFailWithTheEnginesFormatMessage) {
  std::vector<uint8_t> real = test::ReadBytes(RealDatabase("access2000-types.mdb"));
  ASSERT_GT(real.size(), 16 * 4096u);
  std::vector<uint8_t> garbage(16 * 4096);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  // A Jet 4 file that says it is Jet 3: libmdb would read its 4 KB pages as 2 KB ones.
  std::vector<uint8_t> wrongVersion = real;
  wrongVersion[0x14] = 0;
  std::vector<uint8_t> noCatalogue(real.begin(), real.begin() + 4 * 4096);
  std::fill(noCatalogue.begin() + 2 * 4096, noCatalogue.end(), 0);
  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"empty file", {}},
      {"garbage", garbage},
      {"half a page", std::vector<uint8_t>(real.begin(), real.begin() + 2000)},
      {"cut inside a page", std::vector<uint8_t>(real.begin(), real.begin() + 5 * 4096 + 100)},
      {"two pages", std::vector<uint8_t>(real.begin(), real.begin() + 2 * 4096)},
      {"zeroed catalogue", noCatalogue},
      {"wrong version", wrongVersion},
  };
  test::TempDir dir;
  for (const auto& [name, bytes] : cases) {
    std::string path = dir.Path("damaged.mdb");
    test::WriteBytes(path, bytes);
    CDB db;
    db._fileName = path;
    EXPECT_FALSE(db.Connect()) << name;
    EXPECT_EQ(db._errorCode, kFormatError) << name;
    EXPECT_EQ(db._errorMessage, "Unrecognized database format '" + path + "'.") << name;
  }
}

TEST(Cdb, DatabasePassword) {
  const struct {
    std::string stored;
    bool opens;
  } cases[] = {{"plobk", true}, {"", true}, {"Plobk", false}, {"other", false}};
  test::TempDir dir;
  for (const auto& c : cases) {
    std::string path = dir.Path("pw.mdb");
    test::WriteDatabaseWithPassword(path, c.stored);
    CDB db;
    db._fileName = path;
    EXPECT_EQ(db.Connect(), c.opens) << c.stored;
    if (c.opens) continue;
    EXPECT_EQ(db._errorCode, static_cast<int32_t>(0x80040E4D));
    EXPECT_EQ(db._errorMessage, "Not a valid password.");
  }
}

TEST(Cdb, OpenQueryCountsAndStandsOnTheFirstRecord) {
  const struct {
    std::string sql;
    int count;
  } cases[] = {{"SELECT * FROM Table1", 2}, {"SELECT * FROM Table3", 0}, {"SELECT * FROM Table1 WHERE C = 0", 1}};
  for (const auto& c : cases) {
    CDB db;
    db._fileName = RealDatabase("access2000-types.mdb");
    db._sql = c.sql;
    ASSERT_TRUE(db.Connect()) << db._errorMessage;
    ASSERT_TRUE(db.OpenQuery()) << db._errorMessage;
    EXPECT_EQ(db._recordCount, c.count) << c.sql;
    EXPECT_EQ(db._dataSet->Eof(), c.count == 0);
    if (c.count == 2) {
      EXPECT_EQ(db._dataSet->FieldValue("A").text, "abcdefg");
    }
    EXPECT_TRUE(db.CloseQuery());
    EXPECT_EQ(db._dataSet, nullptr);
    EXPECT_TRUE(db.Disconnect());
    EXPECT_EQ(db._connection, nullptr);
  }
}

TEST(Cdb, FailedQueryLeavesTheConnectionToClose) {
  CDB db;
  db._fileName = RealDatabase("access2000-types.mdb");
  db._sql = " SELECT *   FROM QUELTASYSTEM_TB";
  ASSERT_TRUE(db.Connect());
  EXPECT_FALSE(db.OpenQuery());
  EXPECT_EQ(db._errorCode, static_cast<int32_t>(0x80040E37));
  EXPECT_EQ(db._errorMessage,
            "The Microsoft Jet database engine cannot find the input table or query 'QUELTASYSTEM_TB'.  Make sure "
            "it exists and that its name is spelled correctly.");
  EXPECT_TRUE(db._connection->Connected());
  EXPECT_TRUE(db.Disconnect());
  EXPECT_EQ(db._connection, nullptr);
}

TEST(CQueltaSystemTb, SelectFailuresAndEmptyTable) {
  const std::string types = RealDatabase("access2000-types.mdb");
  const std::string kNoItem = "Item cannot be found in the collection corresponding to the requested name or ordinal.";
  const struct {
    std::string name, fileName, sql;
    bool result;
    std::string message;
    int32_t code;
    size_t rows;
  } cases[] = {
      {"empty query", types, "", false, "untouched", 0, 0},
      {"missing file", "/nonexistent/SERVER.MDB", "SELECT * FROM Table1", false,
       "/nonexistent/SERVER.MDBが見つかりませんでした", 0, 0},
      {"missing table", types, " SELECT *   FROM QUELTASYSTEM_TB", false,
       "The Microsoft Jet database engine cannot find the input table or query 'QUELTASYSTEM_TB'.  Make sure it "
       "exists and that its name is spelled correctly.",
       static_cast<int32_t>(0x80040E37), 0},
      // Rows are sized before they are read; a missing column leaves them empty.
      {"table without the columns", types, "SELECT * FROM Table1", false, kNoItem, 0, 2},
      {"empty table", types, "SELECT * FROM Table3", true, "untouched", 0, 0},
  };
  for (const auto& c : cases) {
    CQueltaSystem_tb table;
    table._fileName = c.fileName;
    table._sql = c.sql;
    table._errorMessage = "untouched";
    EXPECT_EQ(table.Select(), c.result) << c.name;
    EXPECT_EQ(table._lockType, ltReadOnly) << c.name;
    EXPECT_EQ(table._errorMessage, c.message) << c.name;
    EXPECT_EQ(table._errorCode, c.code) << c.name;
    EXPECT_EQ(table._rows.size(), c.rows) << c.name;
    for (const STCQueltaSystem_tb& row : table._rows) EXPECT_EQ(row.SECTION, "") << c.name;
    EXPECT_EQ(table._connection, nullptr) << c.name;
  }
}

}  // namespace
}  // namespace qvu
