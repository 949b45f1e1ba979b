// The connection layer that stands in for ADO with the Jet 4.0 provider: a connection opened
// from an ADO connection string and a read-only data set over one SELECT, over the engine
// CMake builds in (JetEngine.h).
//
// The layer itself checks the file's header and version before the engine sees the file,
// and the database password, which neither engine is trusted with; the engine only reads
// rows, apart from the program and with a time limit (JetIsolation.h). Failures are thrown
// in the kinds of JetErrors.h, and nothing else is thrown.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "data/JetErrors.h"
#include "support/Variant.h"

namespace qvu {

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
  // The database path of the open connection, and the password it was opened with.
  const std::string& Path() const { return path_; }
  const std::string& Password() const { return password_; }

 private:
  bool connected_ = false;
  std::string path_;
  std::string password_;
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
