#include "data/Cdb.h"

#include <system_error>

#include "support/Utf8Path.h"

namespace qvu {
namespace {

const char* const kUnknownError = "例外エラー";

}  // namespace

CDB::CDB() : _recordCount(0), _errorCode(0) {}

std::string CDB::ConnectionString(const std::string& path) {
  return std::string("Provider=Microsoft.Jet.OLEDB.4.0;") + "Data Source = " + path + ";" +
         "Mode=ReadWrite|Share Deny None;" + "Persist Security Info=False;" +
         "Jet OLEDB:Database Password = " + "plobk";
}

bool CDB::Connect() {
  const std::string path = _directory + _fileName;
  std::error_code ec;
  // A folder is not a file, as the platform's file-exists check has it.
  const auto type = std::filesystem::status(Utf8Path(path), ec).type();
  if (ec || type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::directory) {
    _errorCode = 0;
    _errorMessage = path + "が見つかりませんでした";
    return false;
  }
  try {
    _connection = std::make_unique<TJetConnection>();
    _connection->ConnectionString = ConnectionString(path);
    _connection->Open();
    return true;
  } catch (const EJetOleError& e) {
    _errorCode = e.hresult;
    _errorMessage = e.what();
  } catch (const EJetAdoError& e) {
    _errorMessage = e.what();
  } catch (...) {
    _errorMessage = kUnknownError;
  }
  return false;
}

bool CDB::OpenQuery() {
  try {
    _dataSet = std::make_unique<TJetDataSet>();
    _dataSet->Connection = _connection.get();
    _dataSet->LockType = _lockType;
    _dataSet->CommandText = _sql;
    _dataSet->Open();
    if (_dataSet->Eof()) {
      _recordCount = 0;
    } else {
      _dataSet->Last();
      _recordCount = _dataSet->RecordCount();
      _dataSet->First();
    }
    return true;
  } catch (const EJetOleError& e) {
    _errorCode = e.hresult;
    _errorMessage = e.what();
  } catch (const std::exception& e) {  // EJetAdoError and any other error with a message
    _errorMessage = e.what();
  } catch (...) {
    _errorMessage = kUnknownError;
  }
  return false;
}

bool CDB::CloseQuery() {
  // Nothing open is nothing to close.
  if (_dataSet) _dataSet->Close();
  _dataSet.reset();
  return true;
}

bool CDB::Disconnect() {
  // A data set left open must not keep pointing at the released connection.
  if (_dataSet) _dataSet->Connection = nullptr;
  if (_connection) _connection->Close();
  _connection.reset();
  return true;
}

}  // namespace qvu
