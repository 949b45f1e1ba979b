#include "data/JetConnection.h"

#include "data/JetEngine.h"
#include "data/JetHeader.h"
#include "data/JetIsolation.h"
#include "data/JetPassword.h"
#include "data/JetWire.h"
#include "support/Common.h"

namespace qvu {
namespace {

// Runs the engine's work apart from the program; a reading that dies or overruns is a
// damaged file. work is copied into the isolation and must own all it uses.
JetRows Isolated(const std::string& path, std::chrono::milliseconds timeout, std::function<JetRows()> work) {
  return JetDecode(RunIsolated([work] { return JetEncode(work); }, timeout), path);
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
  if (!provider.empty() && !SameTextAscii(provider, "Microsoft.Jet.OLEDB.4.0")) throw JetNoProviderError();
  const JetSource source{ConnectionStringValue(ConnectionString, "Data Source"),
                         ConnectionStringValue(ConnectionString, "Jet OLEDB:Database Password")};
  std::vector<uint8_t> header = JetCheckedHeader(source.path);
  // A damaged file is reported as such, whatever password it seems to hold.
  Isolated(source.path, Timeout, [source] {
    JetEngineProbe(source);
    return JetRows{};
  });
  std::string stored;
  if (!JetDecodePassword(header, stored)) throw JetFormatError(source.path);
  if (!stored.empty() && stored != source.password) throw JetBadPasswordError();
  path_ = source.path;
  password_ = source.password;
  connected_ = true;
}

void TJetDataSet::Open() {
  Close();
  if (!Connection || !Connection->Connected())
    throw EJetAdoError("Operation is not allowed when the object is closed.");
  // Only a SELECT reaches the engine: the layer never writes, whatever the engine could do.
  if (!IsSelectStatement(CommandText)) throw JetInvalidStatementError();
  const JetSource source{Connection->Path(), Connection->Password()};
  const std::string query = CommandText;
  JetRows result = Isolated(source.path, Connection->Timeout, [source, query] { return JetEngineSelect(source, query); });
  fields_ = std::move(result.fields);
  rows_ = std::move(result.rows);
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
