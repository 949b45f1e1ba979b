// The engine over mdbtools' libmdb and libmdbsql. It runs inside the isolation's child
// process, so it may take over the child's standard error to hear libmdbsql's reasons.
#include <sys/mman.h>
#include <unistd.h>

#include <charconv>
#include <cstring>

#include <mdbsql.h>
#include <mdbtools.h>

#include "data/JetEngine.h"
#include "data/JetErrors.h"
#include "support/Common.h"

namespace qvu {
namespace {

struct Database {
  MdbHandle* mdb = nullptr;
  explicit Database(const std::string& path) : mdb(mdb_open(path.c_str(), MDB_NOFLAGS)) {
    if (!mdb) throw JetFormatError(path);
  }
  ~Database() {
    if (mdb) mdb_close(mdb);
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
};

template <typename T>
bool RawValue(MdbHandle* mdb, const MdbColumn* col, T& out) {
  if (col->cur_value_len != static_cast<int>(sizeof(T)) || col->cur_value_start < 0 ||
      col->cur_value_start + col->cur_value_len > static_cast<int>(mdb->fmt->pg_size))
    return false;
  std::memcpy(&out, mdb->pg_buf + col->cur_value_start, sizeof out);
  return true;
}

template <typename T>
bool WholeValue(MdbHandle* mdb, const MdbColumn* col, Variant& out, bool currency = false) {
  T v;
  if (!RawValue(mdb, col, v)) return false;
  out = currency ? Variant::Currency(v) : Variant::Integer(v);
  return true;
}

// One field of the row libmdb has just read: col is the table's column (nullptr when the
// result column is not a plain table column), bound the text libmdb made of it.
// libmdb gives a zero-length text as no value at all, so it comes back as Null; both turn
// into the empty text.
Variant ValueOf(MdbHandle* mdb, const MdbColumn* col, const std::string& bound) {
  if (!col) return Variant::Text(bound);
  if (col->col_type == MDB_BOOL) return Variant::Boolean(bound == "1");  // kept in the null mask, never Null
  if (col->cur_value_len == 0) return Variant::Null();
  Variant v;
  switch (col->col_type) {
    case MDB_BYTE:
      if (WholeValue<uint8_t>(mdb, col, v)) return v;
      break;
    case MDB_INT:
      if (WholeValue<int16_t>(mdb, col, v)) return v;
      break;
    case MDB_LONGINT:
      if (WholeValue<int32_t>(mdb, col, v)) return v;
      break;
    case MDB_MONEY:  // ten-thousandths, as the variant keeps them
      if (WholeValue<int64_t>(mdb, col, v, true)) return v;
      break;
    case MDB_FLOAT: {
      float f;
      if (RawValue(mdb, col, f)) return Variant::Float(SingleAsShown(f));
      break;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
      double d;
      if (!RawValue(mdb, col, d)) break;
      return col->col_type == MDB_DATETIME ? Variant::DateTime(d) : Variant::Float(d);
    }
    case MDB_NUMERIC: {
      double d;
      if (std::from_chars(bound.data(), bound.data() + bound.size(), d).ec == std::errc()) return Variant::Float(d);
      break;
    }
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_REPID:
      return Variant::Text(bound);
    default:  // binary, OLE object, attachments: no value the program can turn into text
      return Variant();
  }
  return Variant::Null();  // a fixed-size value of the wrong size: nothing sound to give
}

const MdbColumn* TableColumn(MdbTableDef* table, const char* name) {
  for (unsigned i = 0; i < table->columns->len; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    if (g_ascii_strcasecmp(col->name, name) == 0) return col;
  }
  return nullptr;
}

// What libmdbsql said on stderr while it ran the query.
std::string CapturedErrors(int fd) {
  std::string text;
  char buf[4096];
  for (off_t at = 0;;) {
    ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    at += n;
  }
  return text;
}

// Why libmdbsql refused a query, in the engine's words. libmdbsql keeps only its last
// message, so the first one, which names the reason, is taken from what it printed.
[[noreturn]] void ThrowQueryError(const std::string& printed, const std::string& query) {
  static const std::string kNoTable = " is not a table in this database";
  if (size_t at = printed.find(kNoTable); at != std::string::npos) {
    size_t line = printed.rfind('\n', at);
    size_t start = line == std::string::npos ? 0 : line + 1;
    throw JetNoTableError(printed.substr(start, at - start));
  }
  if (printed.find("syntax error") == std::string::npos && printed.find(" not found") != std::string::npos)
    throw JetNoValueError();
  throw JetSyntaxError(query);
}

// Room for a memo of 64K characters in UTF-8.
constexpr size_t kBindSize = 256 * 1024;

struct Query {
  MdbSQL* sql = mdb_sql_init();
  ~Query() {
    if (sql) mdb_sql_exit(sql);  // closes the handle given to it
  }
};

}  // namespace

// A soundly opened database has a catalogue with at least its system tables.
void JetEngineProbe(const JetSource& source) {
  Database db(source.path);
  GPtrArray* catalogue = mdb_read_catalog(db.mdb, MDB_ANY);
  if (!catalogue || catalogue->len == 0) throw JetFormatError(source.path);
}

JetRows JetEngineSelect(const JetSource& source, const std::string& query) {
  Query q;
  q.sql->mdb = mdb_open(source.path.c_str(), MDB_NOFLAGS);
  if (!q.sql->mdb) throw JetFormatError(source.path);
  MdbHandle* mdb = q.sql->mdb;
  mdb_set_bind_size(mdb, kBindSize);
  mdb_set_boolean_fmt_numbers(mdb);
  mdb_set_repid_fmt(mdb, MDB_BRACES_4_2_2_8);
  int printed = ::memfd_create("mdbsql-errors", MFD_CLOEXEC);
  if (printed >= 0) ::dup2(printed, 2);
  if (!mdb_sql_run_query(q.sql, query.c_str()) || mdb_sql_has_error(q.sql) || !q.sql->cur_table)
    ThrowQueryError(printed >= 0 ? CapturedErrors(printed) : "", query);
  MdbTableDef* table = q.sql->cur_table;
  std::vector<const MdbColumn*> columns;
  JetRows result;
  for (unsigned i = 0; i < q.sql->num_columns; ++i) {
    auto* sqlcol = static_cast<MdbSQLColumn*>(g_ptr_array_index(q.sql->columns, i));
    columns.push_back(TableColumn(table, sqlcol->name));
    result.fields.push_back(sqlcol->name);
  }
  while (mdb_sql_fetch_row(q.sql, table)) {
    std::vector<Variant> row;
    for (unsigned i = 0; i < columns.size(); ++i) {
      const char* bound = static_cast<const char*>(g_ptr_array_index(q.sql->bound_values, i));
      row.push_back(ValueOf(mdb, columns[i], bound ? std::string(bound, ::strnlen(bound, kBindSize)) : std::string()));
    }
    result.rows.push_back(std::move(row));
  }
  return result;
}

}  // namespace qvu
