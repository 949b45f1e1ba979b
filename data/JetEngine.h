// The engine under the connection layer: what reads the rows of a database file once the
// layer has checked the file's header and password itself. One engine is built into the
// program, chosen by CMake: mdbtools' libmdb and libmdbsql (Linux), or ODBC with the Access
// driver (Windows; under Wine, and in a Linux test build, unixODBC with mdbtools' driver).
//
// Both calls run where a fault of the engine cannot harm the program (JetIsolation.h) and
// throw only the layer's errors (JetErrors.h).
#pragma once

#include <charconv>
#include <string>
#include <vector>

#include "support/Variant.h"

namespace qvu {

struct JetSource {
  std::string path;
  std::string password;  // the connection string's; an engine that checks it needs it
};

// Every row of one SELECT, its fields in the order of the result.
struct JetRows {
  std::vector<std::string> fields;
  std::vector<std::vector<Variant>> rows;
};

// A single-precision value as the program shows it: with its own shortest digits (1.1, not
// 1.10000002384186).
inline double SingleAsShown(float value) {
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  double shown = value;
  std::from_chars(text, end, shown);
  return shown;
}

// Fails with the format error unless the engine can open the file and read its catalogue.
void JetEngineProbe(const JetSource& source);
// Runs query, which the caller has seen to begin with SELECT.
JetRows JetEngineSelect(const JetSource& source, const std::string& query);

}  // namespace qvu
