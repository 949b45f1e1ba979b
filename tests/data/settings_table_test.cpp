// The settings table read from databases written by the settings-database writer: the
// rows as the loader sees them, and a table that lacks a column.
#include <gtest/gtest.h>

#include "data/Cqueltasystem_tb.h"
#include "tests/data/data_fixtures.h"
#include "tools/mdb_writer.h"

namespace qvu {
namespace {

using jet::Column;
using jet::ColumnType;
using jet::Value;

std::string WriteSettings(const test::TempDir& dir, const std::vector<Column>& columns,
                          const std::vector<std::vector<Value>>& rows, const std::string& name = "SERVER.MDB") {
  jet::Table table{"QUELTASYSTEM_TB", columns, rows};
  TDateTime created = 0;
  EXPECT_TRUE(TryEncodeDateTime({2024, 1, 2, 3, 4, 5}, created));
  std::string path = dir.Path(name);
  test::WriteBytes(path, jet::BuildDatabase({table}, "plobk", created));
  return path;
}

CQueltaSystem_tb Selected(const std::string& path) {
  CQueltaSystem_tb table;
  table._fileName = path;
  table._sql = std::string(" SELECT * ") + "  FROM QUELTASYSTEM_TB";
  table.Select();
  return table;
}

TEST(SettingsTable, RowsAsTheLoaderSeesThem) {
  TDateTime uptime = 0;
  ASSERT_TRUE(TryEncodeDateTime({2024, 5, 6, 7, 8, 9}, uptime));
  test::TempDir dir;
  std::string path = WriteSettings(
      dir,
      {{"SECTION", ColumnType::Text, 50}, {"KEYNAME", ColumnType::Text, 50}, {"KEYVAL", ColumnType::Text, 255},
       {"UPTIME", ColumnType::DateTime}},
      {
          {std::string("CONNECT"), std::string("Domain"), std::string("first.test"), uptime},
          {std::string("connect"), std::string("Domain"), Value{}, Value{}},
          {std::string("CONNECT"), std::string("Domain"), std::string("second.test"), uptime},
      });
  CQueltaSystem_tb table = Selected(path);
  ASSERT_EQ(table._errorMessage, "");
  ASSERT_EQ(table._recordCount, 3);
  const STCQueltaSystem_tb expected[] = {
      {"CONNECT", "Domain", "first.test", "2024/05/06 7:08:09"},
      {"connect", "Domain", "", ""},
      {"CONNECT", "Domain", "second.test", "2024/05/06 7:08:09"},
  };
  ASSERT_EQ(table._rows.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(table._rows[i].SECTION, expected[i].SECTION) << i;
    EXPECT_EQ(table._rows[i].KEYNAME, expected[i].KEYNAME) << i;
    EXPECT_EQ(table._rows[i].KEYVAL, expected[i].KEYVAL) << i;
    EXPECT_EQ(table._rows[i].UPTIME, expected[i].UPTIME) << i;
  }
  EXPECT_EQ(table._connection, nullptr);
}

TEST(SettingsTable, ValuesOfAnyColumnTypeBecomeText) {
  test::TempDir dir;
  std::string path = WriteSettings(
      dir,
      {{"SECTION", ColumnType::Text, 50}, {"KEYNAME", ColumnType::Integer}, {"KEYVAL", ColumnType::Long},
       {"UPTIME", ColumnType::Text, 30}},
      {{std::string("VERSION"), int32_t{7}, int32_t{-42}, std::string("yesterday")}});
  CQueltaSystem_tb table = Selected(path);
  ASSERT_EQ(table._rows.size(), 1u) << table._errorMessage;
  EXPECT_EQ(table._rows[0].KEYNAME, "7");
  EXPECT_EQ(table._rows[0].KEYVAL, "-42");
  EXPECT_EQ(table._rows[0].UPTIME, "yesterday");
}

TEST(SettingsTable, JapaneseTextsInAFolderWithAJapaneseName) {
  test::TempDir dir;
  std::filesystem::create_directory(std::filesystem::path(dir.Path("店舗 設定")));
  std::string path = WriteSettings(
      dir, {{"SECTION", ColumnType::Text, 50}, {"KEYNAME", ColumnType::Text, 50}, {"KEYVAL", ColumnType::Text, 255},
            {"UPTIME", ColumnType::Text, 30}},
      {{std::string("PROXY"), std::string("USERNAME"), std::string("美容室　ＱＶ"), std::string("昨日")}},
      "店舗 設定/SERVER.MDB");
  CQueltaSystem_tb table = Selected(path);
  ASSERT_EQ(table._rows.size(), 1u) << table._errorMessage;
  EXPECT_EQ(table._rows[0].KEYVAL, "美容室　ＱＶ");
  EXPECT_EQ(table._rows[0].UPTIME, "昨日");
}

TEST(SettingsTable, TableWithoutUptimeFailsAfterTheFieldsBeforeIt) {
  test::TempDir dir;
  std::string path = WriteSettings(
      dir, {{"SECTION", ColumnType::Text, 50}, {"KEYNAME", ColumnType::Text, 50}, {"KEYVAL", ColumnType::Text, 255}},
      {{std::string("CONNECT"), std::string("SalonID"), std::string("123")},
       {std::string("CONNECT"), std::string("SalonPW"), std::string("pw")}});
  CQueltaSystem_tb table = Selected(path);
  EXPECT_EQ(table._errorMessage,
            "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  ASSERT_EQ(table._rows.size(), 2u);
  EXPECT_EQ(table._rows[0].SECTION, "CONNECT");
  EXPECT_EQ(table._rows[0].KEYVAL, "123");
  EXPECT_EQ(table._rows[0].UPTIME, "");
  EXPECT_EQ(table._rows[1].SECTION, "");
  EXPECT_EQ(table._connection, nullptr);
}

}  // namespace
}  // namespace qvu
