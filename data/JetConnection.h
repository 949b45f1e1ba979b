// The connection layer that stands in for ADO with the Jet 4.0 provider: a connection opened
// from an ADO connection string and a read-only data set over one SELECT, both over
// mdbtools' libmdb and libmdbsql.
//
// Failures are thrown in the three kinds ADO reports: EJetOleError (an HRESULT and the
// engine's message), EJetAdoError (a message of the ADO layer), EJetError (anything else
// with a message). Nothing else is thrown.
//
// libmdb is not hardened against damaged files (some make it loop without end), so
// every reading it does runs in a short-lived child process with a time limit; a child that
// dies or overruns is a damaged file, never a crash or a hang of the program. The file's
// header and version are checked here before libmdb sees the file, and the database
// password, which libmdb ignores, is checked here too.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Variant.h"

namespace qvu {

class EJetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EJetOleError : public EJetError {
 public:
  EJetOleError(int32_t hresult, const std::string& message) : EJetError(message), hresult(hresult) {}
  int32_t hresult;
};

class EJetAdoError : public EJetError {
 public:
  using EJetError::EJetError;
};

// The engine's result codes the layer reports.
constexpr int32_t kJetErrUnspecified = static_cast<int32_t>(0x80004005);  // format, file access
constexpr int32_t kJetErrNoTable = static_cast<int32_t>(0x80040E37);
constexpr int32_t kJetErrBadPassword = static_cast<int32_t>(0x80040E4D);
constexpr int32_t kJetErrSyntax = static_cast<int32_t>(0x80040E14);
constexpr int32_t kJetErrNoValue = static_cast<int32_t>(0x80040E10);  // unknown column in a SELECT
constexpr int32_t kJetErrNoProvider = static_cast<int32_t>(0x800A0E7A);

// ADO's lock types, one byte as the platform declares them. The layer never writes, so every
// data set is read-only whatever it is given.
enum TADOLockType : uint8_t { ltUnspecified, ltReadOnly, ltPessimistic, ltOptimistic, ltBatchOptimistic };

// The value of key in an ADO connection string: pairs "key=value" separated by ";", keys
// compared without regard to ASCII case, blanks around keys and values dropped. "" when the
// key is absent; the last pair wins when a key repeats.
std::string ConnectionStringValue(const std::string& connectionString, const std::string& key);

class TJetConnection {
 public:
  std::string ConnectionString;
  // How long one reading of the file may take before the file counts as damaged.
  std::chrono::milliseconds Timeout{20000};

  // Opens the file named by "Data Source": it must exist and be readable, be a Jet database
  // with a sound header and catalogue, and the "Jet OLEDB:Database Password" must equal the
  // stored password (exactly, with case) unless none is stored. Throws on failure and then
  // stays closed.
  void Open();
  void Close() noexcept { connected_ = false; }
  bool Connected() const { return connected_; }
  // The database path of the open connection.
  const std::string& Path() const { return path_; }

 private:
  bool connected_ = false;
  std::string path_;
};

// A client-side static snapshot of one SELECT: every row is read when it opens, so the
// record count is exact and moving never touches the file again.
class TJetDataSet {
 public:
  TJetConnection* Connection = nullptr;  // not owned
  TADOLockType LockType = ltUnspecified;
  std::string CommandText;

  // Runs CommandText on Connection, which must be open, and stands on the first record.
  void Open();
  void Close() noexcept;
  bool Active() const { return active_; }

  // True when there is no current record: an empty result, or past the last record.
  bool Eof() const { return position_ >= rows_.size(); }
  int RecordCount() const { return static_cast<int>(rows_.size()); }
  void First() { position_ = 0; }
  void Last() { position_ = rows_.empty() ? 0 : rows_.size() - 1; }
  // Moves to the next record; past the last one Eof becomes true and stays so.
  void Next() {
    if (position_ < rows_.size()) ++position_;
  }

  // The current record's value of the field named name (ASCII case ignored). EJetAdoError
  // when no field has that name or there is no current record.
  Variant FieldValue(const std::string& name) const;
  const std::vector<std::string>& FieldNames() const { return fields_; }

 private:
  bool active_ = false;
  std::vector<std::string> fields_;
  std::vector<std::vector<Variant>> rows_;
  size_t position_ = 0;
};

}  // namespace qvu
