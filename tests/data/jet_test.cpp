// The connection layer on its own: the password codec, the connection string, opening with
// and without the right password, the cursor and the values by column type.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "data/JetConnection.h"
#include "data/JetIsolation.h"
#include "data/JetPassword.h"
#include "data/JetQueryText.h"
#include "data/JetWire.h"
#include "support/DateTime.h"
#include "tests/data/data_fixtures.h"

namespace qvu {
namespace {

using test::RealDatabase;

std::vector<uint8_t> HeaderPage(const std::string& file) {
  std::vector<uint8_t> bytes = test::ReadBytes(RealDatabase(file));
  bytes.resize(4096);
  return bytes;
}

TEST(JetPassword, RealDatabasesHaveNone) {
  for (const char* file : {"access2000-types.mdb", "access2003-unicode.mdb", "empty-access2000.mdb"}) {
    std::vector<uint8_t> page = HeaderPage(file);
    std::string password = "x";
    ASSERT_TRUE(JetDecodePassword(page, password)) << file;
    EXPECT_EQ(password, "") << file;
  }
}

TEST(JetPassword, RoundTripsAndTouchesOnlyThePasswordField) {
  const std::string cases[] = {"plobk", "", "Aa1 !", "パスワード", "abcdefghijklmnopqrst", "😀x"};
  for (bool jet3 : {false, true}) {
    for (const std::string& password : cases) {
      if (jet3 && password == "パスワード") continue;
      if (jet3 && password == "😀x") continue;
      std::vector<uint8_t> original = HeaderPage("empty-access2000.mdb");
      if (jet3) original[kJetVersionOffset] = 0;
      std::vector<uint8_t> page = original;
      ASSERT_TRUE(JetEncodePassword(page, password)) << password;
      std::string decoded;
      ASSERT_TRUE(JetDecodePassword(page, decoded));
      EXPECT_EQ(decoded, password) << "jet3=" << jet3;
      for (size_t i = 0; i < page.size(); ++i)
        if (i < 0x42 || i >= 0x42 + (jet3 ? 20u : 40u)) {
          ASSERT_EQ(page[i], original[i]) << "offset " << i;
        }
    }
  }
}

TEST(JetPassword, RefusesWhatTheFieldCannotHold) {
  struct Case {
    bool jet3;
    std::string password;
  } cases[] = {
      {false, "abcdefghijklmnopqrstu"},    // 21 code units
      {false, "abcdefghijklmnopqrs😀"},    // 19 + a surrogate pair
      {false, "bad\xff"},                   // not UTF-8
      {true, "abcdefghijklmnopqrstu"},
      {true, "パ"},                          // beyond Latin-1
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> page = HeaderPage("empty-access2000.mdb");
    if (c.jet3) page[kJetVersionOffset] = 0;
    std::vector<uint8_t> before = page;
    EXPECT_FALSE(JetEncodePassword(page, c.password)) << c.password;
    EXPECT_EQ(page, before) << c.password;
  }
  std::vector<uint8_t> shortPage(kJetHeaderMinBytes - 1);
  std::string password;
  EXPECT_FALSE(JetDecodePassword(shortPage, password));
  EXPECT_FALSE(JetEncodePassword(shortPage, "a"));
}

TEST(ConnectionString, KeysIgnoreCaseAndBlanks) {
  const std::string s =
      "Provider=Microsoft.Jet.OLEDB.4.0;Data Source = SERVER.MDB;Mode=ReadWrite|Share Deny None;"
      "Persist Security Info=False;Jet OLEDB:Database Password = plobk";
  const std::pair<std::string, std::string> cases[] = {
      {"Provider", "Microsoft.Jet.OLEDB.4.0"},
      {"data source", "SERVER.MDB"},
      {" Data Source ", "SERVER.MDB"},
      {"JET OLEDB:DATABASE PASSWORD", "plobk"},
      {"Mode", "ReadWrite|Share Deny None"},
      {"User ID", ""},
  };
  for (const auto& [key, value] : cases) EXPECT_EQ(ConnectionStringValue(s, key), value) << key;
  EXPECT_EQ(ConnectionStringValue("a=1;A = 2", "a"), "2");
}

std::string ConnectionTo(const std::string& path, const std::string& password) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source = " + path +
         ";Jet OLEDB:Database Password = " + password;
}

TEST(JetConnection, ChecksTheStoredPassword) {
  struct Case {
    std::string stored, given;
    bool opens;
  } cases[] = {
      {"plobk", "plobk", true},  {"plobk", "PLOBK", false}, {"plobk", "", false},
      {"plobk", "plob", false},  {"", "anything", true},    {"", "", true},
      {"パスワード", "パスワード", true},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    std::string path = dir.Path("pw.mdb");
    test::WriteDatabaseWithPassword(path, c.stored);
    TJetConnection connection;
    connection.ConnectionString = ConnectionTo(path, c.given);
    try {
      connection.Open();
      EXPECT_TRUE(c.opens) << c.stored << " / " << c.given;
    } catch (const EJetOleError& e) {
      EXPECT_FALSE(c.opens) << c.stored << " / " << c.given;
      EXPECT_EQ(e.hresult, static_cast<int32_t>(0x80040E4D));
      EXPECT_STREQ(e.what(), "Not a valid password.");
    }
    EXPECT_EQ(connection.Connected(), c.opens);
  }
}

TEST(JetConnection, RefusesAnotherProvider) {
  TJetConnection connection;
  connection.ConnectionString = "Provider=SQLOLEDB;Data Source = " + RealDatabase("empty-access2000.mdb");
  try {
    connection.Open();
    FAIL() << "opened";
  } catch (const EJetOleError& e) {
    EXPECT_EQ(e.hresult, static_cast<int32_t>(0x800A0E7A));
  }
}

// An open data set on a query of a real database.
struct Opened {
  TJetConnection connection;
  TJetDataSet dataSet;
  Opened(const std::string& file, const std::string& sql) {
    connection.ConnectionString = ConnectionTo(RealDatabase(file), "");
    connection.Open();
    dataSet.Connection = &connection;
    dataSet.CommandText = sql;
    dataSet.Open();
  }
};

TEST(JetDataSet, MovesLikeAStaticCursor) {
  Opened q("access2000-types.mdb", " SELECT *   FROM table1");
  ASSERT_EQ(q.dataSet.RecordCount(), 2);
  EXPECT_FALSE(q.dataSet.Eof());
  EXPECT_EQ(q.dataSet.FieldValue("a").text, "abcdefg");
  q.dataSet.Last();
  EXPECT_EQ(q.dataSet.FieldValue("A").text, "a");
  q.dataSet.First();
  EXPECT_EQ(q.dataSet.FieldValue("A").text, "abcdefg");
  q.dataSet.Next();
  EXPECT_EQ(q.dataSet.FieldValue("A").text, "a");
  q.dataSet.Next();
  EXPECT_TRUE(q.dataSet.Eof());
  q.dataSet.Next();
  EXPECT_TRUE(q.dataSet.Eof());
  EXPECT_THROW(q.dataSet.FieldValue("A"), EJetAdoError);
  try {
    q.dataSet.First();
    q.dataSet.FieldValue("UPTIME");
    FAIL() << "found";
  } catch (const EJetAdoError& e) {
    EXPECT_STREQ(e.what(), "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  }
}

TEST(JetDataSet, GivesValuesByColumnType) {
  Opened q("access2000-types.mdb", "SELECT * FROM Table1");
  TDateTime date;
  ASSERT_TRUE(TryEncodeDateTime({1974, 9, 21}, date));
  struct Case {
    const char* field;
    Variant expected;
  } cases[] = {
      {"A", Variant::Text("abcdefg")},   {"B", Variant::Text("hijklmnop")},
      {"C", Variant::Integer(2)},        {"D", Variant::Integer(222)},
      {"E", Variant::Integer(333333333)}, {"F", Variant::Float(444.555)},
      {"G", Variant::DateTime(date)},    {"H", Variant::Currency(35000)},
      {"I", Variant::Boolean(true)},
  };
  for (const Case& c : cases) {
    Variant v = q.dataSet.FieldValue(c.field);
    EXPECT_EQ(v.kind, c.expected.kind) << c.field;
    EXPECT_EQ(v.text, c.expected.text) << c.field;
    EXPECT_EQ(v.integer, c.expected.integer) << c.field;
    EXPECT_EQ(v.real, c.expected.real) << c.field;
    EXPECT_EQ(v.boolean, c.expected.boolean) << c.field;
  }
  q.dataSet.Next();
  EXPECT_FALSE(q.dataSet.FieldValue("I").boolean);
}

TEST(JetDataSet, NullFieldsAndBinaryColumns) {
  // The catalogue of a real database: Tables has no foreign name (a Null text) and a
  // binary owner, which the program has no text for.
  Opened q("empty-access2000.mdb", "SELECT * FROM MSysObjects WHERE Name = 'Tables'");
  ASSERT_EQ(q.dataSet.RecordCount(), 1);
  EXPECT_EQ(q.dataSet.FieldValue("ForeignName").kind, Variant::Kind::Null);
  EXPECT_EQ(q.dataSet.FieldValue("Database").kind, Variant::Kind::Null);
  EXPECT_EQ(q.dataSet.FieldValue("Owner").kind, Variant::Kind::Empty);
  EXPECT_EQ(q.dataSet.FieldValue("Flags").integer, -2147483648LL);
}

TEST(JetDataSet, EmptyTableAndWhereClause) {
  Opened empty("access2000-types.mdb", "SELECT * FROM Table3");
  EXPECT_EQ(empty.dataSet.RecordCount(), 0);
  EXPECT_TRUE(empty.dataSet.Eof());
  EXPECT_THROW(empty.dataSet.FieldValue("a"), EJetAdoError);

  Opened one("access2003-unicode.mdb", "select unicode from [table] where id=3");
  ASSERT_EQ(one.dataSet.RecordCount(), 1);
  EXPECT_EQ(one.dataSet.FieldValue("Unicode").text, "Мир");
}

TEST(JetConnection, AReaderThatLoopsIsStoppedAndReportsTheFormat) {
  // One byte of the real Access 2003 file, changed so that libmdb's reader of the
  // catalogue's properties never finishes.
  std::vector<uint8_t> bytes = test::ReadBytes(RealDatabase("access2003-unicode.mdb"));
  ASSERT_GT(bytes.size(), 0x11930u);
  ASSERT_EQ(bytes[0x11930], 26);
  bytes[0x11930] = 27;
  test::TempDir dir;
  std::string path = dir.Path("loops.mdb");
  test::WriteBytes(path, bytes);
  TJetConnection connection;
  connection.ConnectionString = ConnectionTo(path, "");
  connection.Timeout = std::chrono::milliseconds(1500);
  try {
    connection.Open();
    FAIL() << "opened";
  } catch (const EJetOleError& e) {
    EXPECT_EQ(e.hresult, static_cast<int32_t>(0x80004005));
    EXPECT_EQ(e.what(), "Unrecognized database format '" + path + "'.");
  }
  EXPECT_FALSE(connection.Connected());
}

TEST(JetDataSet, QueryErrorsInTheEnginesWords) {
  struct Case {
    std::string sql;
    uint32_t hresult;
    std::string message;
  } cases[] = {
      {"SELECT * FROM Nope", 0x80040E37,
       "The Microsoft Jet database engine cannot find the input table or query 'Nope'.  Make sure it "
       "exists and that its name is spelled correctly."},
      {"SELECT X FROM Table1", 0x80040E10, "No value given for one or more required parameters."},
      {"SELEC * FROM Table1", 0x80040E14,
       "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."},
      {"SELECT * FROM", 0x80040E14, "Syntax error in query expression 'SELECT * FROM'."},
      {"SELECT * FROM [No Such]", 0x80040E37,
       "The Microsoft Jet database engine cannot find the input table or query 'No Such'.  Make sure it "
       "exists and that its name is spelled correctly."},
      {"SELECT [A], Nope FROM Table1", 0x80040E10, "No value given for one or more required parameters."},
      // The layer never writes: nothing but a SELECT reaches the engine.
      {"DELETE FROM Table1", 0x80040E14,
       "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."},
  };
  TJetConnection connection;
  connection.ConnectionString = ConnectionTo(RealDatabase("access2000-types.mdb"), "");
  connection.Open();
  for (const Case& c : cases) {
    TJetDataSet dataSet;
    dataSet.Connection = &connection;
    dataSet.CommandText = c.sql;
    try {
      dataSet.Open();
      ADD_FAILURE() << c.sql << " opened";
    } catch (const EJetOleError& e) {
      EXPECT_EQ(static_cast<uint32_t>(e.hresult), c.hresult) << c.sql;
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_FALSE(dataSet.Active());
  }
  TJetDataSet unattached;
  unattached.CommandText = "SELECT * FROM Table1";
  EXPECT_THROW(unattached.Open(), EJetAdoError);
  Opened stillThere("access2000-types.mdb", "SELECT * FROM Table1");
  EXPECT_EQ(stillThere.dataSet.RecordCount(), 2);
}

#if defined(QVU_JET_ENGINE_ODBC) && !defined(_WIN32)  // Wine's unixODBC reads the host's environment
TEST(JetConnection, AMissingOdbcDriverIsAMissingProvider) {
  test::TempDir dir;  // an ODBC set-up that knows no driver
  test::WriteBytes(dir.Path("odbcinst.ini"), {});
  std::string before = ::getenv("ODBCSYSINI") ? ::getenv("ODBCSYSINI") : "";
  ::setenv("ODBCSYSINI", dir.Path("").c_str(), 1);
  TJetConnection connection;
  connection.ConnectionString = ConnectionTo(RealDatabase("empty-access2000.mdb"), "");
  try {
    connection.Open();
    ADD_FAILURE() << "opened";
  } catch (const EJetOleError& e) {
    EXPECT_EQ(e.hresult, static_cast<int32_t>(0x800A0E7A));
    EXPECT_STREQ(e.what(), "Provider cannot be found. It may not be properly installed.");
  }
  ::setenv("ODBCSYSINI", before.c_str(), 1);
}
#endif

TEST(JetQueryText, TableAndPlainColumnNames) {
  struct Case {
    std::string query, table;
    std::vector<std::string> names;
  } cases[] = {
      {" SELECT *   FROM QUELTASYSTEM_TB", "QUELTASYSTEM_TB", {}},
      {"select a, [b c], d + 1, e AS f from [my table] where x = 'FROM y'", "my table", {"a", "b c"}},
      {"SELECT [FROM], x FROM t", "t", {"FROM", "x"}},
      {"SELECT * FROM", "", {}},
      {"SELECT 'a,b' FROM t", "t", {}},
      {"", "", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JetTableOfSelect(c.query), c.table) << c.query;
    EXPECT_EQ(JetSelectedNames(c.query), c.names) << c.query;
  }
}

TEST(JetWire, RowsAndErrorsCrossWholeAndACutStreamIsADamagedFile) {
  JetRows rows{{"T", "I", "C", "F", "D", "B", "N", "E"},
               {{Variant::Text("設定"), Variant::Integer(-7), Variant::Currency(35000), Variant::Float(1.5),
                 Variant::DateTime(45000.25), Variant::Boolean(true), Variant::Null(), Variant()}}};
  std::string data = JetEncode([&] { return rows; });
  JetRows back = JetDecode(data, "x.mdb");
  ASSERT_EQ(back.fields, rows.fields);
  ASSERT_EQ(back.rows.size(), 1u);
  for (size_t i = 0; i < rows.fields.size(); ++i) {
    const Variant &a = back.rows[0][i], &b = rows.rows[0][i];
    EXPECT_EQ(a.kind, b.kind) << i;
    EXPECT_EQ(a.text, b.text) << i;
    EXPECT_EQ(a.integer, b.integer) << i;
    EXPECT_EQ(a.real, b.real) << i;
    EXPECT_EQ(a.boolean, b.boolean) << i;
  }
  for (size_t n = 0; n < data.size(); ++n) {
    try {
      JetDecode(data.substr(0, n), "x.mdb");
      ADD_FAILURE() << "a stream cut at " << n << " was taken for rows";
    } catch (const EJetOleError& e) {
      EXPECT_STREQ(e.what(), "Unrecognized database format 'x.mdb'.");
    }
  }
  EXPECT_THROW(JetDecode(std::nullopt, "x.mdb"), EJetOleError);

  std::string error = JetEncode([]() -> JetRows { throw JetNoTableError("T"); });
  try {
    JetDecode(error, "x.mdb");
    ADD_FAILURE() << "no error";
  } catch (const EJetOleError& e) {
    EXPECT_EQ(e.hresult, static_cast<int32_t>(0x80040E37));
  }
  EXPECT_THROW(JetDecode(JetEncode([]() -> JetRows { throw EJetAdoError("ado"); }), "x.mdb"), EJetAdoError);
  // Anything but the layer's errors is a damaged file, never an exception of another kind.
  EXPECT_EQ(JetEncode([]() -> JetRows { throw std::bad_alloc(); }), "");
}

TEST(JetIsolation, GivesBackWhatTheWorkReturnsAndNothingOnAFault) {
  using std::chrono::milliseconds;
  EXPECT_EQ(RunIsolated([] { return std::string("rows"); }, milliseconds(5000)), "rows");
  EXPECT_EQ(RunIsolated([]() -> std::string { throw std::runtime_error("x"); }, milliseconds(5000)), std::nullopt);
  EXPECT_EQ(RunIsolated([] { return std::string(); }, milliseconds(5000)), std::nullopt);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunIsolated(
                [] {
                  std::this_thread::sleep_for(std::chrono::seconds(30));
                  return std::string("late");
                },
                milliseconds(300)),
            std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
#ifndef _WIN32  // a crash is contained only where the work runs in a process of its own
  EXPECT_EQ(RunIsolated([]() -> std::string { ::abort(); }, milliseconds(5000)), std::nullopt);
#endif
}

}  // namespace
}  // namespace qvu
