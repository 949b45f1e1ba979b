// A writer of new Jet 4 (Access 2000) database files, built page by page in memory.
//
// It knows only what a freshly made database with a few plain tables needs: the header page
// with its obfuscated part and database password, the global page map, the catalogue
// MSysObjects, and for every table its definition page, data pages and page usage maps.
// There are no indexes, no long values (memo and OLE columns are always Null) and no
// deleted rows, so every row lies whole on one data page and a reader that walks a table's
// data pages in page order gets the rows back in the order they were added.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "support/DateTime.h"

namespace qvu::jet {

constexpr size_t kPageSize = 4096;

// Column types as Jet numbers them in a table definition.
enum class ColumnType : uint8_t {
  Integer = 0x03,   // 16-bit
  Long = 0x04,      // 32-bit
  DateTime = 0x08,  // double, days since 1899-12-30
  Binary = 0x09,
  Text = 0x0A,
  Ole = 0x0B,
  Memo = 0x0C,
};

struct Column {
  std::string name;
  ColumnType type;
  // Text and Binary: the most characters (Text) or bytes (Binary) a value may hold;
  // ignored for the other types.
  uint16_t maxLength = 255;
};

// Null, a number (Integer, Long), a date-time or floating value (DateTime), or UTF-8 text.
using Value = std::variant<std::monostate, int32_t, double, std::string>;

struct Table {
  std::string name;
  std::vector<Column> columns;
  std::vector<std::vector<Value>> rows;  // each row has one value per column
};

// A value or a table that the format cannot hold (text too long, invalid UTF-8, a value of
// the wrong kind for its column, too many pages); the message names what is wrong.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// UTF-8 to the UTF-16 code units Jet stores; WriteError on invalid UTF-8.
std::u16string Utf8ToUtf16(const std::string& text);

// Jet 4 text as stored in a row: Jet's compressed form (0xFF 0xFE, then runs of one-byte
// characters and two-byte characters separated by 0x00 switches) where it is possible and
// shorter, plain UTF-16LE otherwise. A text that begins with U+FEFF is always written
// compressed, since its plain form would read as the compression mark; when that is not
// possible either (it also holds a character whose low byte is 0x00), WriteError.
std::vector<uint8_t> EncodeText(const std::u16string& text);

// Why a UTF-8 text cannot be the value of a Text column of at most `maxLength` characters
// (invalid UTF-8, too long, not storable), or "" when it can.
std::string TextProblem(const std::string& text, uint16_t maxLength);

// The complete file: every user table in the given order, with their rows in order.
// `password` is the database password (empty for none, at most 20 characters); `created` is
// the creation time kept in the header, which also keys the password's mask.
// Raises WriteError when a table or value cannot be stored.
std::vector<uint8_t> BuildDatabase(const std::vector<Table>& tables, const std::string& password,
                                   TDateTime created);

}  // namespace qvu::jet
