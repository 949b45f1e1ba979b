// The engine over ODBC with the Access driver, "Microsoft Access Driver (*.mdb)": Windows'
// own driver there, mdbtools' driver behind unixODBC under Wine and in the Linux test build.
//
// Windows' driver says what went wrong in SQLSTATEs and Jet's own error numbers; mdbtools'
// driver says only that it could not run the query, so for it the driver's catalogue is asked
// whether the table and the plainly named columns exist.
#include "data/OdbcApi.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>

#include "data/JetEngine.h"
#include "data/JetErrors.h"
#include "data/JetQueryText.h"
#include "support/Common.h"

namespace qvu {
namespace {

// Jet's error numbers, which the Access driver gives as native errors.
constexpr SQLINTEGER kJetNoTable = -1305;
constexpr SQLINTEGER kJetTooFewParameters = -3010;
constexpr SQLINTEGER kJetBadPassword = -1905;
constexpr SQLINTEGER kJetUnrecognizedFormat = -1206;

// The longest text read from one field, in UTF-16 units: room for any Jet text or memo the
// program could use, and a bound on what a faulty driver can make it hold.
constexpr size_t kMaxTextUnits = 1 << 20;

class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(type, parent, &handle_))) handle_ = SQL_NULL_HANDLE;
  }
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

struct Diagnostic {
  bool given = false;
  std::string state;
  SQLINTEGER native = 0;
  std::string message;  // the engine's words, without the "[vendor][component]" prefixes
};

Diagnostic FirstDiagnostic(const Handle& handle) {
  Diagnostic d;
  OdbcChar state[6] = {};
  OdbcChar message[1024] = {};
  SQLSMALLINT length = 0;
  if (handle.get() == SQL_NULL_HANDLE ||
      !SQL_SUCCEEDED(OdbcGetDiagRec(handle.type(), handle.get(), state, &d.native, message, 1024, &length)))
    return d;
  d.given = true;
  d.state = FromOdbc(state, 5);
  d.state.resize(d.state.find('\0') == std::string::npos ? d.state.size() : d.state.find('\0'));
  std::string words = FromOdbc(message, std::clamp<SQLSMALLINT>(length, 0, 1023));
  while (!words.empty() && words[0] == '[') {
    size_t close = words.find(']');
    if (close == std::string::npos) break;
    words.erase(0, close + 1);
  }
  d.message = Trim(words);
  return d;
}

// A failure the layer has no name for, in the driver's words.
EJetOleError DriverError(const Diagnostic& d, const std::string& path) {
  if (d.message.empty()) return JetFormatError(path);
  return EJetOleError(kJetErrUnspecified, d.message);
}

// A value in an ODBC connection string, braced where it would otherwise end early or lose
// its blanks. mdbtools' driver does not read braces, so they are used only where needed.
std::string OdbcValue(const std::string& value) {
  if (value.find_first_of(";{}") == std::string::npos && Trim(value) == value) return value;
  std::string braced = "{";
  for (char c : value) {
    braced += c;
    if (c == '}') braced += '}';
  }
  return braced + "}";
}

bool ContainsName(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names)
    if (SameTextAscii(n, name)) return true;
  return false;
}

// One open connection to the database.
class Session {
 public:
  explicit Session(const JetSource& source) : path_(source.path) {
    if (env_.get() == SQL_NULL_HANDLE ||
        !SQL_SUCCEEDED(SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)))
      throw JetNoProviderError();
    dbc_ = std::make_unique<Handle>(SQL_HANDLE_DBC, env_.get());
    if (dbc_->get() == SQL_NULL_HANDLE) throw JetNoProviderError();
    SQLSetConnectAttr(dbc_->get(), SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
    OdbcText connect = ToOdbc("Driver={Microsoft Access Driver (*.mdb)};DBQ=" + OdbcValue(source.path) +
                              ";ReadOnly=1" + (source.password.empty() ? "" : ";PWD=" + OdbcValue(source.password)));
    SQLRETURN rc = OdbcDriverConnect(dbc_->get(), connect.data());
    if (!SQL_SUCCEEDED(rc)) ThrowConnectFailure(FirstDiagnostic(*dbc_));
    connected_ = true;
  }
  ~Session() {
    if (connected_) SQLDisconnect(dbc_->get());
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::unique_ptr<Handle> Statement() const {
    auto stmt = std::make_unique<Handle>(SQL_HANDLE_STMT, dbc_->get());
    if (stmt->get() == SQL_NULL_HANDLE) throw DriverError(FirstDiagnostic(*dbc_), path_);
    return stmt;
  }

  // The names in one column of a catalogue call's result.
  template <typename Call>
  std::vector<std::string> CatalogueNames(Call call, SQLUSMALLINT column) const {
    std::unique_ptr<Handle> stmt = Statement();
    if (!SQL_SUCCEEDED(call(stmt->get()))) throw DriverError(FirstDiagnostic(*stmt), path_);
    std::vector<std::string> names;
    for (SQLRETURN rc; (rc = SQLFetch(stmt->get())) != SQL_NO_DATA;) {
      if (!SQL_SUCCEEDED(rc)) throw DriverError(FirstDiagnostic(*stmt), path_);
      OdbcChar name[256];
      SQLLEN length = 0;
      if (!SQL_SUCCEEDED(SQLGetData(stmt->get(), column, OdbcCType(name), name, sizeof name, &length))) continue;
      if (length == SQL_NULL_DATA) continue;
      names.push_back(FromOdbc(name, std::clamp<SQLLEN>(length / sizeof name[0], 0, 255)));
    }
    return names;
  }

  std::vector<std::string> Tables() const {
    return CatalogueNames([](SQLHSTMT s) { return OdbcTables(s, static_cast<OdbcChar*>(nullptr)); }, 3);
  }
  std::vector<std::string> Columns(const std::string& table) const {
    OdbcText name = ToOdbc(table);
    return CatalogueNames([&](SQLHSTMT s) { return OdbcColumns(s, name.data()); }, 4);
  }

  // Why the driver refused query, in the words the layer gives both engines where it can
  // tell; mdbtools' driver gives no SQLSTATE, so its catalogue is asked.
  [[noreturn]] void ThrowQueryFailure(const Diagnostic& d, const std::string& query) const {
    if (d.state == "42S02" || d.native == kJetNoTable) {
      std::string table = JetTableOfSelect(query);
      if (table.empty()) {  // the name as the driver quotes it
        size_t open = d.message.find('\''), close = d.message.find('\'', open + 1);
        if (close != std::string::npos) table = d.message.substr(open + 1, close - open - 1);
      }
      throw JetNoTableError(table);
    }
    if (d.state == "07001" || d.state == "07002" || d.state == "42S22" || d.native == kJetTooFewParameters)
      throw JetNoValueError();
    if (d.state == "42000" || d.state == "37000") throw JetSyntaxError(query);
    if (d.state.empty()) {
      std::string table = JetTableOfSelect(query);
      if (!table.empty()) {
        if (!ContainsName(Tables(), table)) throw JetNoTableError(table);
        std::vector<std::string> columns = Columns(table);
        for (const std::string& name : JetSelectedNames(query))
          if (!ContainsName(columns, name)) throw JetNoValueError();
      }
    }
    // mdbtools' driver has no other word for a query it cannot run; nor, with the table and
    // the selected columns there, has the layer.
    if (d.state.empty() || d.message.empty()) throw JetSyntaxError(query);
    throw EJetOleError(kJetErrUnspecified, d.message);
  }

  const std::string& Path() const { return path_; }

 private:
  [[noreturn]] void ThrowConnectFailure(const Diagnostic& d) const {
    // The driver manager could not find or load the driver: Windows says so in the IM
    // states, unixODBC only with a general warning ("Can't open lib ...").
    if (d.state.starts_with("IM") || d.state == "01000") throw JetNoProviderError();
    if (d.native == kJetBadPassword) throw JetBadPasswordError();
    // mdbtools' driver refuses a file it cannot read without a word.
    if (!d.given || d.native == kJetUnrecognizedFormat) throw JetFormatError(path_);
    throw DriverError(d, path_);
  }

  std::string path_;
  Handle env_{SQL_HANDLE_ENV, SQL_NULL_HANDLE};
  std::unique_ptr<Handle> dbc_;
  bool connected_ = false;
};

// How a column's values are read and what they become.
enum class Reading { Text, Integer, SmallInteger, Single, Double, Decimal, Currency, DateTime, Boolean, Nothing };

Reading ReadingOf(SQLSMALLINT type, const std::string& typeName) {
  const std::string name = UpperAscii(typeName);
  // mdbtools' driver reports Jet's binary columns as long texts; their type names say it.
  if (name.find("BINARY") != std::string::npos || name == "OLE") return Reading::Nothing;
  switch (type) {
    case SQL_BIT: return Reading::Boolean;
    case SQL_SMALLINT: return Reading::SmallInteger;
    case SQL_TINYINT:
    case SQL_INTEGER: return Reading::Integer;
    case SQL_REAL: return Reading::Single;
    case SQL_FLOAT:
    case SQL_DOUBLE: return Reading::Double;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return name == "CURRENCY" || name == "MONEY" ? Reading::Currency : Reading::Decimal;
    case SQL_DATETIME:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP: return Reading::DateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return Reading::Nothing;
    default: return Reading::Text;
  }
}

// A money text such as "-3.5000" in ten-thousandths; false for anything else.
bool ParseCurrency(const std::string& text, int64_t& tenThousandths) {
  size_t dot = text.find('.');
  std::string whole = text.substr(0, dot), fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  bool negative = !whole.empty() && whole[0] == '-';
  if (negative) whole.erase(0, 1);
  if (fraction.size() > 4) fraction.resize(4);
  fraction.resize(4, '0');
  int64_t units = 0, fourths = 0;
  const char* end = whole.data() + whole.size();
  if (whole.empty() || std::from_chars(whole.data(), end, units).ptr != end) return false;
  end = fraction.data() + fraction.size();
  if (std::from_chars(fraction.data(), end, fourths).ptr != end || fourths < 0) return false;
  if (units > (INT64_MAX - fourths) / 10000) return false;
  tenThousandths = (units * 10000 + fourths) * (negative ? -1 : 1);
  return true;
}

class RowReader {
 public:
  RowReader(const Handle& stmt, const std::string& path) : stmt_(stmt), path_(path) {}

  // The value of one column of the current row; columns are read in order.
  Variant Value(SQLUSMALLINT column, Reading reading) {
    switch (reading) {
      case Reading::Nothing: return Variant();  // no value the program can turn into text
      case Reading::Boolean: {
        unsigned char v = 0;
        return Get(column, SQL_C_BIT, &v, sizeof v) ? Variant::Boolean(v != 0) : Variant::Null();
      }
      case Reading::Integer:
      case Reading::SmallInteger: {
        SQLINTEGER v = 0;
        if (!Get(column, SQL_C_SLONG, &v, sizeof v)) return Variant::Null();
        // mdbtools' driver gives a 16-bit column's negative values as unsigned ones.
        if (reading == Reading::SmallInteger && v > INT16_MAX && v <= UINT16_MAX) v -= 0x10000;
        return Variant::Integer(v);
      }
      case Reading::Single: {
        SQLREAL v = 0;
        return Get(column, SQL_C_FLOAT, &v, sizeof v) ? Variant::Float(SingleAsShown(v)) : Variant::Null();
      }
      case Reading::Double: {
        SQLDOUBLE v = 0;
        return Get(column, SQL_C_DOUBLE, &v, sizeof v) ? Variant::Float(v) : Variant::Null();
      }
      case Reading::DateTime: {
        SQL_TIMESTAMP_STRUCT v{};
        TDateTime t = 0;
        if (!Get(column, SQL_C_TYPE_TIMESTAMP, &v, sizeof v)) return Variant::Null();
        if (!TryEncodeDateTime({v.year, v.month, v.day, v.hour, v.minute, v.second,
                                static_cast<int>(v.fraction / 1000000)},
                               t))
          return Variant::Null();
        return Variant::DateTime(t);
      }
      default: break;
    }
    std::optional<std::string> text = Text(column);
    if (!text) return Variant::Null();
    if (reading == Reading::Currency) {
      int64_t v = 0;
      return ParseCurrency(*text, v) ? Variant::Currency(v) : Variant::Null();
    }
    if (reading == Reading::Decimal) {
      double v = 0;
      auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
      return ec == std::errc() && end == text->data() + text->size() ? Variant::Float(v) : Variant::Null();
    }
    return Variant::Text(*text);
  }

 private:
  // False for Null.
  bool Get(SQLUSMALLINT column, SQLSMALLINT cType, void* target, SQLLEN size) {
    SQLLEN indicator = 0;
    if (!SQL_SUCCEEDED(SQLGetData(stmt_.get(), column, cType, target, size, &indicator)))
      throw DriverError(FirstDiagnostic(stmt_), path_);
    return indicator != SQL_NULL_DATA;
  }

  // A text in as many pieces as the driver gives it; nullopt for Null.
  std::optional<std::string> Text(SQLUSMALLINT column) {
    std::vector<OdbcChar> units;
    OdbcChar piece[4096];
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc = SQLGetData(stmt_.get(), column, OdbcCType(piece), piece, sizeof piece, &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) throw DriverError(FirstDiagnostic(stmt_), path_);
      if (indicator == SQL_NULL_DATA) return std::nullopt;
      const size_t room = sizeof piece / sizeof piece[0] - 1;  // one unit for the terminator
      const size_t given = indicator >= 0 ? static_cast<size_t>(indicator) / sizeof piece[0] : room + 1;
      units.insert(units.end(), piece, piece + std::min(given, room));
      if (given <= room || units.size() >= kMaxTextUnits) break;
    }
    return FromOdbc(units.data(), units.size());
  }

  const Handle& stmt_;
  const std::string& path_;
};

JetRows ReadRows(const Handle& stmt, const std::string& path) {
  SQLSMALLINT count = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(stmt.get(), &count))) throw DriverError(FirstDiagnostic(stmt), path);
  JetRows result;
  std::vector<Reading> readings;
  for (SQLUSMALLINT c = 1; c <= count; ++c) {
    OdbcChar name[256] = {};
    SQLSMALLINT nameLength = 0, type = 0;
    if (!SQL_SUCCEEDED(OdbcDescribeCol(stmt.get(), c, name, 256, &nameLength, &type)))
      throw DriverError(FirstDiagnostic(stmt), path);
    OdbcChar typeName[64] = {};
    SQLSMALLINT typeNameBytes = 0;
    if (!SQL_SUCCEEDED(OdbcColAttributeText(stmt.get(), c, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &typeNameBytes)))
      typeNameBytes = 0;
    result.fields.push_back(FromOdbc(name, std::clamp<SQLSMALLINT>(nameLength, 0, 255)));
    readings.push_back(ReadingOf(type, FromOdbc(typeName, std::min<size_t>(std::max<SQLSMALLINT>(typeNameBytes, 0) / sizeof typeName[0], 63))));
  }
  RowReader reader(stmt, path);
  for (SQLRETURN rc; (rc = SQLFetch(stmt.get())) != SQL_NO_DATA;) {
    if (!SQL_SUCCEEDED(rc)) throw DriverError(FirstDiagnostic(stmt), path);
    std::vector<Variant> row;
    for (SQLUSMALLINT c = 1; c <= count; ++c) row.push_back(reader.Value(c, readings[c - 1]));
    result.rows.push_back(std::move(row));
  }
  return result;
}

}  // namespace

// A database the driver opens has its catalogue listed; a damaged one lists nothing.
void JetEngineProbe(const JetSource& source) {
  Session session(source);
  if (session.Tables().empty()) throw JetFormatError(source.path);
}

JetRows JetEngineSelect(const JetSource& source, const std::string& query) {
  Session session(source);
  std::unique_ptr<Handle> stmt = session.Statement();
  OdbcText text = ToOdbc(query);
  SQLRETURN rc = OdbcExecDirect(stmt->get(), text.data());
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) session.ThrowQueryFailure(FirstDiagnostic(*stmt), query);
  return ReadRows(*stmt, source.path);
}

}  // namespace qvu
