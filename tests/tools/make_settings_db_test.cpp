// make-settings-db against mdbtools' own readers: what it writes must come back from
// mdb-tables, mdb-export, mdb-schema and libmdbsql exactly as it went in, in input order.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/harness/Harness.h"
#include "data/Cqueltasystem_tb.h"
#include "data/JetPassword.h"

extern char** environ;

namespace {

using qvu::testing::ReadFileBytes;
using qvu::testing::RequireProgram;
using qvu::testing::RunProgram;
using qvu::testing::TempFolder;
using qvu::testing::WriteFileBytes;

const std::string kWriter = QVU_MAKE_SETTINGS_DB;
const char kTable[] = "QUELTASYSTEM_TB";

struct Outcome {
  int exitCode = -1;
  std::string errors;
};

// Runs the writer with `input` on standard input and its standard error collected.
Outcome RunWriter(const TempFolder& dir, const std::vector<std::string>& args,
                  const std::string& input) {
  const std::string in = dir / ".input", err = dir / ".errors";
  WriteFileBytes(in, input);
  std::vector<std::string> argv = {kWriter};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid;
  Outcome o;
  if (posix_spawn(&pid, kWriter.c_str(), &actions, nullptr, cargv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  o.errors = ReadFileBytes(err);
  std::filesystem::remove(in);
  std::filesystem::remove(err);
  return o;
}

// The table as mdb-export prints it: a header line, then one line per row, Null as NULL.
std::string Export(const std::string& db) {
  std::string out;
  EXPECT_EQ(RunProgram({RequireProgram("mdb-export", "mdbtools"), "-0", "NULL", "-T",
                        "%Y/%m/%d %H:%M:%S", db, kTable},
                       &out),
            0)
      << out;
  return out;
}

const std::string kHeader = "SECTION,KEYNAME,KEYVAL,UPTIME\n";

struct RoundTrip {
  const char* name;
  std::string input;     // what the writer reads
  std::string exported;  // what mdb-export gives back after the header line
};

std::string Generated(int count, bool forExport) {
  std::string s;
  for (int i = 0; i < count; ++i) {
    // Long values fill pages fast: 3000 of them need more pages than one inline map covers.
    const std::string key = count > 1000 ? std::string(200, 'k') : "K" + std::to_string(i);
    std::string value;
    for (int k = 0; k < (count > 1000 ? 250 : 1); ++k) value += "値";
    value += std::to_string(i);
    const std::string when = "2024/03/" + std::string(i % 28 < 9 ? "0" : "") +
                             std::to_string(i % 28 + 1) + " " + (i % 24 < 10 ? "0" : "") +
                             std::to_string(i % 24) + ":05:09";
    if (forExport)
      s += "\"S" + std::to_string(i % 7) + "\",\"" + key + "\",\"" + value + "\",\"" + when + "\"\n";
    else
      s += "S" + std::to_string(i % 7) + "\t" + key + "\t" + value + "\t" + when + "\n";
  }
  return s;
}

void PrintTo(const RoundTrip& r, std::ostream* os) { *os << r.name; }

class RowsRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RowsRoundTrip, MdbtoolsReadBackEveryRowInOrder) {
  TempFolder dir("qvu-writer");
  const std::string db = dir / "SERVER.MDB";
  const Outcome o = RunWriter(dir, {db}, GetParam().input);
  ASSERT_EQ(o.exitCode, 0) << o.errors;

  std::string tables;
  ASSERT_EQ(RunProgram({RequireProgram("mdb-tables", "mdbtools"), "-1", db}, &tables), 0) << tables;
  EXPECT_EQ(tables, std::string(kTable) + "\n");
  EXPECT_EQ(Export(db), kHeader + GetParam().exported);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RowsRoundTrip,
    ::testing::Values(
        RoundTrip{"TextNullsAndDates",
                  // Japanese (stored as plain UTF-16), Latin-1 and mixed text (stored in Jet's
                  // compressed form), a character whose low byte is 0x00 (never compressed),
                  // Nulls written both ways, an empty KEYVAL, CRLF, a text that opens with U+FEFF.
                  "\xEF\xBB\xBF"
                  "CONNECT\tDomain\tquelta.example.jp\t2024/01/02 3:04:05\r\n"
                  "CONNECT\tSalonID\t\\N\t\n"
                  "VERSION\t日本語のキー\t値です\t2024/12/31\n"
                  "PROXY\tcafé\tabcdあいefgh\t\\N\n"
                  "\n"
                  "PROXY\t一丁目\t\t1999/12/31 23:59:59\n"
                  "\\N\t\xEF\xBB\xBF" "BOM\tx\t2000/02/29 0:00:00\n",
                  "\"CONNECT\",\"Domain\",\"quelta.example.jp\",\"2024/01/02 03:04:05\"\n"
                  "\"CONNECT\",\"SalonID\",NULL,NULL\n"
                  "\"VERSION\",\"日本語のキー\",\"値です\",\"2024/12/31 00:00:00\"\n"
                  "\"PROXY\",\"café\",\"abcdあいefgh\",NULL\n"
                  // libmdb cannot tell an empty text from Null; both read as Null
                  "\"PROXY\",\"一丁目\",NULL,\"1999/12/31 23:59:59\"\n"
                  "NULL,\"\xEF\xBB\xBF" "BOM\",\"x\",\"2000/02/29 00:00:00\"\n"},
        RoundTrip{"EmptyTable", "", ""},
        RoundTrip{"FiveHundredRowsOnSeveralPages", Generated(500, false), Generated(500, true)},
        RoundTrip{"PagesBeyondTheInlineUsageMap", Generated(3000, false), Generated(3000, true)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MakeSettingsDb, SchemaShowsTheColumnTypes) {
  TempFolder dir("qvu-writer");
  const std::string db = dir / "SERVER.MDB";
  ASSERT_EQ(RunWriter(dir, {db}, "CONNECT\tDomain\tx\t2024/01/02\n").exitCode, 0);

  std::string schema;
  ASSERT_EQ(RunProgram({RequireProgram("mdb-schema", "mdbtools"), db}, &schema), 0) << schema;
  EXPECT_NE(schema.find("CREATE TABLE [QUELTASYSTEM_TB]\n (\n"
                        "\t[SECTION]\t\t\tText (255), \n"
                        "\t[KEYNAME]\t\t\tText (255), \n"
                        "\t[KEYVAL]\t\t\tText (255), \n"
                        "\t[UPTIME]\t\t\tDateTime\n);"),
            std::string::npos)
      << schema;
}

// The program's own settings reader, with its password and query, over libmdbsql.
TEST(MakeSettingsDb, TheSettingsReaderReadsTheRows) {
  TempFolder dir("qvu-writer");
  const std::string db = dir / "SERVER.MDB";
  ASSERT_EQ(RunWriter(dir, {db}, "CONNECT\tDomain\tサーバー\t2024/01/02 3:04:05\n"
                                 "PROXY\tUSE\t\\N\t\n").exitCode, 0);
  qvu::CQueltaSystem_tb table;
  table._fileName = db;
  table._sql = " SELECT *   FROM QUELTASYSTEM_TB";
  ASSERT_TRUE(table.Select()) << table._errorMessage;
  ASSERT_EQ(table._rows.size(), 2u);
  EXPECT_EQ(table._rows[0].SECTION, "CONNECT");
  EXPECT_EQ(table._rows[0].KEYNAME, "Domain");
  EXPECT_EQ(table._rows[0].KEYVAL, "サーバー");
  EXPECT_EQ(table._rows[0].UPTIME, "2024/01/02 3:04:05");
  EXPECT_EQ(table._rows[1].KEYVAL, "");
  EXPECT_EQ(table._rows[1].UPTIME, "");

  // Another password keeps the reader out.
  ASSERT_EQ(RunWriter(dir, {db, "--password", "other"}, "A\tB\tC\t\n").exitCode, 0);
  qvu::CQueltaSystem_tb locked;
  locked._fileName = db;
  locked._sql = table._sql;
  EXPECT_FALSE(locked.Select());
}

TEST(MakeSettingsDb, HeaderKeepsTheChosenPassword) {
  struct Case {
    std::vector<std::string> options;
    std::string password;
  };
  const Case cases[] = {
      {{}, "plobk"},
      {{"--password", "秘密のpw"}, "秘密のpw"},
      {{"--password", "12345678901234567890"}, "12345678901234567890"},
      {{"--no-password"}, ""},
  };
  for (const Case& c : cases) {
    TempFolder dir("qvu-writer");
    const std::string db = dir / "SERVER.MDB";
    std::vector<std::string> args = {db};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome o = RunWriter(dir, args, "A\tB\tC\t\n");
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    const std::string bytes = ReadFileBytes(db);
    ASSERT_GE(bytes.size(), 4096u);
    std::string stored;
    ASSERT_TRUE(qvu::JetDecodePassword(
        std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), stored));
    EXPECT_EQ(stored, c.password);
  }
}

TEST(MakeSettingsDb, BadArgumentsOrInputWriteNothing) {
  struct Case {
    std::vector<std::string> args;  // "OUT" stands for the output path
    std::string input;
    std::string complaint;  // part of the message on standard error
  };
  const Case cases[] = {
      {{}, "A\tB\tC\t\n", "no output file"},
      {{"OUT", "--verbose"}, "A\tB\tC\t\n", "unknown option --verbose"},
      {{"OUT", "--password"}, "A\tB\tC\t\n", "--password needs a value"},
      {{"OUT", "--no-password", "--password", "x"}, "A\tB\tC\t\n", "once"},
      {{"OUT", "--password", "123456789012345678901"}, "A\tB\tC\t\n", "longer than 20"},
      {{"OUT"}, "A\tB\tC\t\nA\tB\tC\n", "line 2: expected 4 tab-separated fields"},
      {{"OUT"}, "A\tB\tC\t\t\n", "line 1: expected 4 tab-separated fields"},
      {{"OUT"}, "A\tB\tC\t2024/13/01\n", "line 1: UPTIME \"2024/13/01\""},
      {{"OUT"}, "A\tB\tC\tyesterday\n", "UPTIME \"yesterday\""},
      {{"OUT"}, "A\tB\t\xC3\x28\t\n", "line 1: KEYVAL not valid UTF-8"},
      {{"OUT"}, "A\t" + std::string(256, 'k') + "\tC\t\n", "KEYNAME longer than 255"},
      {{"OUT"}, "\xEF\xBB\xBF" "a\t\xEF\xBB\xBF一\tC\t\n", "KEYNAME a text that begins with U+FEFF"},
  };
  for (const Case& c : cases) {
    TempFolder dir("qvu-writer");
    const std::string db = dir / "SERVER.MDB";
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(a == "OUT" ? db : a);
    const Outcome o = RunWriter(dir, args, c.input);
    EXPECT_EQ(o.exitCode, 2) << c.complaint;
    EXPECT_NE(o.errors.find(c.complaint), std::string::npos) << o.errors;
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << c.complaint;
  }
}

TEST(MakeSettingsDb, AFailedRunLeavesAnExistingDatabaseAsItWas) {
  TempFolder dir("qvu-writer");
  const std::string db = dir / "SERVER.MDB";
  ASSERT_EQ(RunWriter(dir, {db}, "A\tB\tC\t\n").exitCode, 0);
  const std::string before = ReadFileBytes(db);
  EXPECT_EQ(RunWriter(dir, {db}, "A\tB\tC\t\nbroken\n").exitCode, 2);
  EXPECT_EQ(ReadFileBytes(db), before);

  // A folder in the way: the write fails, and the temporary file is gone again.
  const std::string blocked = dir / "blocked";
  std::filesystem::create_directory(blocked);
  EXPECT_EQ(RunWriter(dir, {blocked}, "A\tB\tC\t\n").exitCode, 1);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"SERVER.MDB", "blocked"}));
}

}  // namespace
