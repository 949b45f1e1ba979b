#include "data/Cqueltasystem_tb.h"

#include "support/Typeconvert.h"

namespace qvu {

bool CQueltaSystem_tb::Select() {
  _lockType = ltReadOnly;
  if (_sql.empty()) return false;
  if (!Connect()) return false;
  _rows.clear();
  bool result = false;
  if (OpenQuery()) {
    try {
      if (_recordCount > 0) {
        _rows.resize(static_cast<size_t>(_recordCount));
        for (size_t i = 0; i < _rows.size(); ++i) {
          STCQueltaSystem_tb& row = _rows[i];
          row.SECTION = VariantToText(_dataSet->FieldValue("SECTION"));
          row.KEYNAME = VariantToText(_dataSet->FieldValue("KEYNAME"));
          row.KEYVAL = VariantToText(_dataSet->FieldValue("KEYVAL"));
          row.UPTIME = VariantToText(_dataSet->FieldValue("UPTIME"));
          _dataSet->Next();
        }
      }
      CloseQuery();
      result = true;
    } catch (const EJetOleError& e) {
      _errorCode = e.hresult;
      _errorMessage = e.what();
    } catch (const std::exception& e) {
      _errorMessage = e.what();
    } catch (...) {
      _errorMessage = "例外エラー";
    }
  }
  Disconnect();
  return result;
}

}  // namespace qvu
