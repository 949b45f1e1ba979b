// The ODBC calls of the ODBC engine that carry texts, and the one place where the platforms
// differ for it. Windows takes UTF-16 through the wide calls: its own interface, and under
// Wine the road into unixODBC. With unixODBC on Linux the narrow calls take UTF-8 straight
// to mdbtools' driver, which is narrow: unixODBC's wide calls would hand it the connection
// string cut to bytes, and mdbtools' wide build garbles the column type names.
//
// Both families are declared on both platforms and type-checked there; OdbcChar picks one.
#pragma once

#ifdef _WIN32
#include <windows.h>  // before sql.h, which needs its types there
#endif
#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "support/Common.h"

namespace qvu {

#ifdef _WIN32
using OdbcChar = SQLWCHAR;
#else
using OdbcChar = SQLCHAR;
#endif
using OdbcText = std::vector<OdbcChar>;  // with its terminating zero

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC's wide texts are UTF-16 units");

constexpr SQLSMALLINT OdbcCType(SQLCHAR*) { return SQL_C_CHAR; }
constexpr SQLSMALLINT OdbcCType(SQLWCHAR*) { return SQL_C_WCHAR; }

template <typename Char = OdbcChar>
std::vector<Char> ToOdbc(const std::string& utf8) {
  std::vector<Char> text;
  if constexpr (sizeof(Char) == 1) {
    text.assign(utf8.begin(), utf8.end());
  } else {
    std::u16string units = Utf8ToUtf16(utf8);
    text.assign(units.begin(), units.end());
  }
  text.push_back(0);
  return text;
}

inline std::string FromOdbc(const SQLCHAR* text, size_t count) { return std::string(text, text + count); }
inline std::string FromOdbc(const SQLWCHAR* text, size_t count) { return Utf16ToUtf8(std::u16string(text, text + count)); }

inline SQLRETURN OdbcDriverConnect(SQLHDBC dbc, SQLCHAR* text) {
  return SQLDriverConnect(dbc, nullptr, text, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
}
inline SQLRETURN OdbcDriverConnect(SQLHDBC dbc, SQLWCHAR* text) {
  return SQLDriverConnectW(dbc, nullptr, text, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
}
inline SQLRETURN OdbcExecDirect(SQLHSTMT stmt, SQLCHAR* text) { return SQLExecDirect(stmt, text, SQL_NTS); }
inline SQLRETURN OdbcExecDirect(SQLHSTMT stmt, SQLWCHAR* text) { return SQLExecDirectW(stmt, text, SQL_NTS); }

// Every table, or the columns of one table.
inline SQLRETURN OdbcTables(SQLHSTMT stmt, SQLCHAR*) { return SQLTables(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }
inline SQLRETURN OdbcTables(SQLHSTMT stmt, SQLWCHAR*) { return SQLTablesW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0); }
inline SQLRETURN OdbcColumns(SQLHSTMT stmt, SQLCHAR* table) {
  return SQLColumns(stmt, nullptr, 0, nullptr, 0, table, SQL_NTS, nullptr, 0);
}
inline SQLRETURN OdbcColumns(SQLHSTMT stmt, SQLWCHAR* table) {
  return SQLColumnsW(stmt, nullptr, 0, nullptr, 0, table, SQL_NTS, nullptr, 0);
}

// name holds room for count characters; length is set in characters.
inline SQLRETURN OdbcDescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT count,
                                 SQLSMALLINT* length, SQLSMALLINT* type) {
  SQLULEN size = 0;
  SQLSMALLINT digits = 0, nullable = 0;
  return SQLDescribeCol(stmt, column, name, count, length, type, &size, &digits, &nullable);
}
inline SQLRETURN OdbcDescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT count,
                                 SQLSMALLINT* length, SQLSMALLINT* type) {
  SQLULEN size = 0;
  SQLSMALLINT digits = 0, nullable = 0;
  return SQLDescribeColW(stmt, column, name, count, length, type, &size, &digits, &nullable);
}
// bytes is the buffer's size and is set to the text's, in bytes either way.
inline SQLRETURN OdbcColAttributeText(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLCHAR* text,
                                      SQLSMALLINT size, SQLSMALLINT* bytes) {
  return SQLColAttribute(stmt, column, field, text, size, bytes, nullptr);
}
inline SQLRETURN OdbcColAttributeText(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLWCHAR* text,
                                      SQLSMALLINT size, SQLSMALLINT* bytes) {
  return SQLColAttributeW(stmt, column, field, text, size, bytes, nullptr);
}
// state holds six characters, message count; length is set in characters.
inline SQLRETURN OdbcGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLCHAR* state, SQLINTEGER* native,
                                SQLCHAR* message, SQLSMALLINT count, SQLSMALLINT* length) {
  return SQLGetDiagRec(type, handle, 1, state, native, message, count, length);
}
inline SQLRETURN OdbcGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLWCHAR* state, SQLINTEGER* native,
                                SQLWCHAR* message, SQLSMALLINT count, SQLSMALLINT* length) {
  return SQLGetDiagRecW(type, handle, 1, state, native, message, count, length);
}

}  // namespace qvu
