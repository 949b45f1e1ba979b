#include "data/JetErrors.h"

#include "support/Common.h"

namespace qvu {

EJetOleError JetFormatError(const std::string& path) {
  return EJetOleError(kJetErrUnspecified, "Unrecognized database format '" + path + "'.");
}

EJetOleError JetNoProviderError() {
  return EJetOleError(kJetErrNoProvider, "Provider cannot be found. It may not be properly installed.");
}

EJetOleError JetBadPasswordError() { return EJetOleError(kJetErrBadPassword, "Not a valid password."); }

EJetOleError JetNoTableError(const std::string& table) {
  return EJetOleError(kJetErrNoTable, "The Microsoft Jet database engine cannot find the input table or query '" +
                                          table + "'.  Make sure it exists and that its name is spelled correctly.");
}

EJetOleError JetNoValueError() {
  return EJetOleError(kJetErrNoValue, "No value given for one or more required parameters.");
}

EJetOleError JetInvalidStatementError() {
  return EJetOleError(kJetErrSyntax,
                      "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
}

EJetOleError JetSyntaxError(const std::string& query) {
  return EJetOleError(kJetErrSyntax, "Syntax error in query expression '" + Trim(query) + "'.");
}

bool IsSelectStatement(const std::string& query) {
  return SameTextAscii(Trim(query).substr(0, 6), "SELECT");
}

}  // namespace qvu
