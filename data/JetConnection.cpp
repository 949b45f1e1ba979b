#include "data/JetConnection.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>

#include <mdbsql.h>
#include <mdbtools.h>

#include "data/JetPassword.h"
#include "support/Common.h"

namespace qvu {
namespace {

[[noreturn]] void ThrowFormat(const std::string& path) {
  throw EJetOleError(kJetErrUnspecified, "Unrecognized database format '" + path + "'.");
}

// ---- what a child reports back: a small tagged byte stream ----

enum : uint8_t { kTagOk = 'O', kTagError = 'E', kTagRows = 'R' };
enum : uint8_t { kKindOther = 0, kKindOle = 1, kKindAdo = 2 };

struct Writer {
  std::string& out;
  void U8(uint8_t v) { out += static_cast<char>(v); }
  void U32(uint32_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }
  void I64(int64_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }
  void F64(double v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }
  void Str(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    out += s;
  }
};

// Reads what Writer wrote; a short or malformed stream throws, so a child that died
// half-way can never be taken for a result.
struct Reader {
  const std::string& in;
  size_t pos = 0;
  void Need(size_t n) {
    if (in.size() - pos < n) throw std::out_of_range("short");
  }
  template <typename T>
  T Raw() {
    Need(sizeof(T));
    T v;
    std::memcpy(&v, in.data() + pos, sizeof v);
    pos += sizeof v;
    return v;
  }
  uint8_t U8() { return Raw<uint8_t>(); }
  uint32_t U32() { return Raw<uint32_t>(); }
  std::string Str() {
    uint32_t n = U32();
    Need(n);
    std::string s = in.substr(pos, n);
    pos += n;
    return s;
  }
};

void WriteError(Writer& w, const std::exception& e) {
  w.out.clear();
  w.U8(kTagError);
  if (auto* ole = dynamic_cast<const EJetOleError*>(&e)) {
    w.U8(kKindOle);
    w.U32(static_cast<uint32_t>(ole->hresult));
  } else {
    w.U8(dynamic_cast<const EJetAdoError*>(&e) ? kKindAdo : kKindOther);
    w.U32(0);
  }
  w.Str(e.what());
}

[[noreturn]] void ThrowReported(Reader& r) {
  uint8_t kind = r.U8();
  int32_t hresult = static_cast<int32_t>(r.U32());
  std::string message = r.Str();
  if (kind == kKindOle) throw EJetOleError(hresult, message);
  if (kind == kKindAdo) throw EJetAdoError(message);
  throw EJetError(message);
}

void WriteAll(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// What a child wrote; died when it crashed, overran its time or reported nothing.
struct ChildOutcome {
  bool died = true;
  std::string data;
};

// Runs work in a child process that cannot harm this one: its output is discarded, it holds
// none of our descriptors but the pipe, and it is killed when it overruns or we die.
ChildOutcome RunIsolated(const std::function<void(Writer&)>& work, std::chrono::milliseconds timeout) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw EJetError(std::string("pipe: ") + std::strerror(errno));
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    throw EJetError(std::string("fork: ") + std::strerror(err));
  }
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    // libmdb talks on stdout and stderr about damaged files; none of it is ours to show.
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    int out = fds[1];
    if (out > 3) ::close_range(3, out - 1, 0);
    ::close_range(out + 1, ~0U, 0);
    std::string data;
    Writer w{data};
    try {
      work(w);
    } catch (const std::exception& e) {
      WriteError(w, e);
    } catch (...) {
      data.clear();
    }
    WriteAll(out, data);
    ::_exit(0);
  }
  ::close(fds[1]);
  ChildOutcome outcome;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  bool overran = false;
  char buf[65536];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      overran = true;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) continue;
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    outcome.data.append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  if (overran) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.died = overran || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || outcome.data.empty();
  return outcome;
}

// ---- libmdb, used only inside the child ----

struct Database {
  MdbHandle* mdb = nullptr;
  explicit Database(const std::string& path) : mdb(mdb_open(path.c_str(), MDB_NOFLAGS)) {
    if (!mdb) ThrowFormat(path);
  }
  ~Database() {
    if (mdb) mdb_close(mdb);
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
};

void ProbeCatalogue(const std::string& path, Writer& w) {
  Database db(path);
  GPtrArray* catalogue = mdb_read_catalog(db.mdb, MDB_ANY);
  if (!catalogue || catalogue->len == 0) ThrowFormat(path);
  w.U8(kTagOk);
}

template <typename T>
bool RawValue(MdbHandle* mdb, const MdbColumn* col, T& out) {
  if (col->cur_value_len != static_cast<int>(sizeof(T)) || col->cur_value_start < 0 ||
      col->cur_value_start + col->cur_value_len > static_cast<int>(mdb->fmt->pg_size))
    return false;
  std::memcpy(&out, mdb->pg_buf + col->cur_value_start, sizeof out);
  return true;
}

template <typename T>
bool WriteWhole(Writer& w, MdbHandle* mdb, const MdbColumn* col, Variant::Kind kind) {
  T v;
  if (!RawValue(mdb, col, v)) return false;
  w.U8(static_cast<uint8_t>(kind));
  w.I64(v);
  return true;
}

// One field of the row libmdb has just read: col is the table's column (nullptr when the
// result column is not a plain table column), bound the text libmdb made of it.
// libmdb gives a zero-length text as no value at all, so it comes back as Null; both turn
// into the empty text.
void WriteValue(Writer& w, MdbHandle* mdb, const MdbColumn* col, const std::string& bound) {
  auto put = [&](Variant::Kind kind) { w.U8(static_cast<uint8_t>(kind)); };
  if (!col) {
    put(Variant::Kind::Text);
    w.Str(bound);
    return;
  }
  if (col->col_type == MDB_BOOL) {  // kept in the null mask, never Null
    put(Variant::Kind::Boolean);
    w.U8(bound == "1");
    return;
  }
  if (col->cur_value_len == 0) {
    put(Variant::Kind::Null);
    return;
  }
  switch (col->col_type) {
    case MDB_BYTE:
      if (WriteWhole<uint8_t>(w, mdb, col, Variant::Kind::Integer)) return;
      break;
    case MDB_INT:
      if (WriteWhole<int16_t>(w, mdb, col, Variant::Kind::Integer)) return;
      break;
    case MDB_LONGINT:
      if (WriteWhole<int32_t>(w, mdb, col, Variant::Kind::Integer)) return;
      break;
    case MDB_MONEY:  // ten-thousandths, as the variant keeps them
      if (WriteWhole<int64_t>(w, mdb, col, Variant::Kind::Currency)) return;
      break;
    case MDB_FLOAT: {
      float v;
      if (!RawValue(mdb, col, v)) break;
      // A single is shown with its own shortest digits (1.1, not 1.10000002384186).
      char text[32];
      auto end = std::to_chars(text, text + sizeof text, v).ptr;
      double d = v;
      std::from_chars(text, end, d);
      put(Variant::Kind::Float);
      w.F64(d);
      return;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
      double v;
      if (!RawValue(mdb, col, v)) break;
      put(col->col_type == MDB_DATETIME ? Variant::Kind::DateTime : Variant::Kind::Float);
      w.F64(v);
      return;
    }
    case MDB_NUMERIC: {
      double d;
      if (std::from_chars(bound.data(), bound.data() + bound.size(), d).ec != std::errc()) break;
      put(Variant::Kind::Float);
      w.F64(d);
      return;
    }
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_REPID:
      put(Variant::Kind::Text);
      w.Str(bound);
      return;
    default:  // binary, OLE object, attachments: no value the program can turn into text
      put(Variant::Kind::Empty);
      return;
  }
  put(Variant::Kind::Null);  // a fixed-size value of the wrong size: nothing sound to give
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
  std::string trimmed = Trim(query);
  if (!SameTextAscii(trimmed.substr(0, 6), "SELECT"))
    throw EJetOleError(kJetErrSyntax,
                       "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
  if (size_t at = printed.find(kNoTable); at != std::string::npos) {
    size_t line = printed.rfind('\n', at);
    std::string table = printed.substr(line == std::string::npos ? 0 : line + 1,
                                       at - (line == std::string::npos ? 0 : line + 1));
    throw EJetOleError(kJetErrNoTable,
                       "The Microsoft Jet database engine cannot find the input table or query '" + table +
                           "'.  Make sure it exists and that its name is spelled correctly.");
  }
  if (printed.find("syntax error") == std::string::npos && printed.find(" not found") != std::string::npos)
    throw EJetOleError(kJetErrNoValue, "No value given for one or more required parameters.");
  throw EJetOleError(kJetErrSyntax, "Syntax error in query expression '" + trimmed + "'.");
}

// Room for a memo of 64K characters in UTF-8.
constexpr size_t kBindSize = 256 * 1024;

struct Query {
  MdbSQL* sql = mdb_sql_init();
  ~Query() {
    if (sql) mdb_sql_exit(sql);  // closes the handle given to it
  }
};

void RunQuery(const std::string& path, const std::string& query, Writer& w) {
  Query q;
  q.sql->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (!q.sql->mdb) ThrowFormat(path);
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
  w.U8(kTagRows);
  w.U32(q.sql->num_columns);
  for (unsigned i = 0; i < q.sql->num_columns; ++i) {
    auto* sqlcol = static_cast<MdbSQLColumn*>(g_ptr_array_index(q.sql->columns, i));
    columns.push_back(TableColumn(table, sqlcol->name));
    w.Str(sqlcol->name);
  }
  std::string rows;
  Writer rw{rows};
  uint32_t count = 0;
  while (mdb_sql_fetch_row(q.sql, table)) {
    for (unsigned i = 0; i < columns.size(); ++i) {
      const char* bound = static_cast<const char*>(g_ptr_array_index(q.sql->bound_values, i));
      std::string text = bound ? std::string(bound, ::strnlen(bound, kBindSize)) : std::string();
      WriteValue(rw, mdb, columns[i], text);
    }
    ++count;
  }
  w.U32(count);
  w.out += rows;
}

// ---- checks made here, before libmdb sees the file ----

// The header page of a file that looks like a Jet database; the engine's error otherwise.
std::vector<uint8_t> CheckedHeader(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      throw EJetOleError(kJetErrUnspecified, "Could not find file '" + path + "'.");
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    throw EJetOleError(kJetErrUnspecified,
                       "The Microsoft Jet database engine cannot open the file '" + path +
                           "'.  It is already opened exclusively by another user, or you need permission to view its data.");
  }
  uint8_t page[4096] = {};
  ssize_t got = 0;
  for (;;) {
    ssize_t n = ::pread(fd, page + got, sizeof page - got, got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
    if (got == static_cast<ssize_t>(sizeof page)) break;
  }
  ::close(fd);
  static const uint8_t kMagic[4] = {0x00, 0x01, 0x00, 0x00};
  if (got < static_cast<ssize_t>(kJetHeaderMinBytes) || std::memcmp(page, kMagic, 4) != 0 ||
      std::memcmp(page + 4, "Standard Jet DB", 16) != 0)
    ThrowFormat(path);
  // Jet 3 pages are 2 KB, every later version's 4 KB. The catalogue's definition lies on
  // page 2, so a database has at least three pages.
  const off_t pageSize = page[kJetVersionOffset] == 0 ? 2048 : 4096;
  if (st.st_size < 3 * pageSize || st.st_size % pageSize != 0) ThrowFormat(path);
  return std::vector<uint8_t>(page, page + got);
}

}  // namespace

std::string ConnectionStringValue(const std::string& connectionString, const std::string& key) {
  std::string value;
  std::string wanted = Trim(key);
  size_t start = 0;
  while (start <= connectionString.size()) {
    size_t end = connectionString.find(';', start);
    if (end == std::string::npos) end = connectionString.size();
    std::string pair = connectionString.substr(start, end - start);
    size_t eq = pair.find('=');
    if (eq != std::string::npos && SameTextAscii(Trim(pair.substr(0, eq)), wanted))
      value = Trim(pair.substr(eq + 1));
    start = end + 1;
  }
  return value;
}

void TJetConnection::Open() {
  connected_ = false;
  std::string provider = ConnectionStringValue(ConnectionString, "Provider");
  if (!provider.empty() && !SameTextAscii(provider, "Microsoft.Jet.OLEDB.4.0"))
    throw EJetOleError(kJetErrNoProvider, "Provider cannot be found. It may not be properly installed.");
  std::string path = ConnectionStringValue(ConnectionString, "Data Source");
  std::vector<uint8_t> header = CheckedHeader(path);
  // A damaged file is reported as such, whatever password it seems to hold.
  ChildOutcome outcome = RunIsolated([&](Writer& w) { ProbeCatalogue(path, w); }, Timeout);
  if (outcome.died) ThrowFormat(path);
  Reader r{outcome.data};
  try {
    if (r.U8() == kTagError) ThrowReported(r);
  } catch (const std::out_of_range&) {
    ThrowFormat(path);
  }
  std::string stored;
  if (!JetDecodePassword(header, stored)) ThrowFormat(path);
  if (!stored.empty() && stored != ConnectionStringValue(ConnectionString, "Jet OLEDB:Database Password"))
    throw EJetOleError(kJetErrBadPassword, "Not a valid password.");
  path_ = path;
  connected_ = true;
}

void TJetDataSet::Open() {
  Close();
  if (!Connection || !Connection->Connected())
    throw EJetAdoError("Operation is not allowed when the object is closed.");
  const std::string path = Connection->Path();
  const std::string query = CommandText;
  ChildOutcome outcome = RunIsolated([&](Writer& w) { RunQuery(path, query, w); }, Connection->Timeout);
  if (outcome.died) ThrowFormat(path);
  Reader r{outcome.data};
  std::vector<std::string> fields;
  std::vector<std::vector<Variant>> rows;
  try {
    uint8_t tag = r.U8();
    if (tag == kTagError) ThrowReported(r);
    if (tag != kTagRows) ThrowFormat(path);
    uint32_t columns = r.U32();
    for (uint32_t i = 0; i < columns; ++i) fields.push_back(r.Str());
    uint32_t count = r.U32();
    for (uint32_t n = 0; n < count; ++n) {
      std::vector<Variant> row;
      for (uint32_t i = 0; i < columns; ++i) {
        auto kind = static_cast<Variant::Kind>(r.U8());
        switch (kind) {
          case Variant::Kind::Text: row.push_back(Variant::Text(r.Str())); break;
          case Variant::Kind::Integer: row.push_back(Variant::Integer(r.Raw<int64_t>())); break;
          case Variant::Kind::Currency: row.push_back(Variant::Currency(r.Raw<int64_t>())); break;
          case Variant::Kind::Float: row.push_back(Variant::Float(r.Raw<double>())); break;
          case Variant::Kind::DateTime: row.push_back(Variant::DateTime(r.Raw<double>())); break;
          case Variant::Kind::Boolean: row.push_back(Variant::Boolean(r.U8() != 0)); break;
          case Variant::Kind::Null: row.push_back(Variant::Null()); break;
          case Variant::Kind::Empty: row.push_back(Variant()); break;
          default: ThrowFormat(path);
        }
      }
      rows.push_back(std::move(row));
    }
  } catch (const std::out_of_range&) {
    ThrowFormat(path);
  }
  fields_ = std::move(fields);
  rows_ = std::move(rows);
  position_ = 0;
  active_ = true;
}

void TJetDataSet::Close() noexcept {
  active_ = false;
  fields_.clear();
  rows_.clear();
  position_ = 0;
}

Variant TJetDataSet::FieldValue(const std::string& name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!SameTextAscii(fields_[i], name)) continue;
    if (Eof())
      throw EJetAdoError(
          "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.");
    return rows_[position_][i];
  }
  throw EJetAdoError("Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

}  // namespace qvu
