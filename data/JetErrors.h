// The failures of the connection layer, in the three kinds ADO reports: EJetOleError (an
// HRESULT and the engine's message), EJetAdoError (a message of the ADO layer), EJetError
// (anything else with a message). Nothing else leaves the layer.
//
// The situations the layer tells apart itself are worded here once, so that the program
// reads the same texts and codes whichever engine reads the file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

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

// A file that is no database the engine can read (damaged, cut short, another format).
EJetOleError JetFormatError(const std::string& path);
EJetOleError JetNoProviderError();
EJetOleError JetBadPasswordError();
EJetOleError JetNoTableError(const std::string& table);
// A name in the SELECT that is no column of its table.
EJetOleError JetNoValueError();
// A statement that does not begin with SELECT; the layer runs nothing else.
EJetOleError JetInvalidStatementError();
EJetOleError JetSyntaxError(const std::string& query);

bool IsSelectStatement(const std::string& query);

}  // namespace qvu
