// The program's only way into a local database: open an Access file, run one SELECT into a
// read-only client-side data set that a derived class walks, and close everything again.
// Every operation returns false on failure with the reason in _errorMessage (and, for an
// error of the engine, its HRESULT in _errorCode); none lets an exception out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "data/JetConnection.h"

namespace qvu {

class CDB {
 public:
  CDB();

  // Opens _connection on _directory + _fileName. A missing file is reported here in the
  // program's words (_errorCode 0), before the engine is asked.
  bool Connect();
  // Runs _sql into _dataSet, sets _recordCount and stands on the first record.
  bool OpenQuery();
  bool CloseQuery();
  bool Disconnect();

  // The connection string for the database at path, with the program's database password.
  static std::string ConnectionString(const std::string& path);

  std::unique_ptr<TJetConnection> _connection;
  std::unique_ptr<TJetDataSet> _dataSet;
  std::string _fileName;
  TADOLockType _lockType = ltUnspecified;
  int32_t _recordCount;
  int32_t _errorCode;
  std::string _errorMessage;
  std::string _sql;
  std::string _directory;
};

}  // namespace qvu
