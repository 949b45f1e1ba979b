#include "tools/mdb_writer.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <span>

#include "data/JetPassword.h"

namespace qvu::jet {

static_assert(std::endian::native == std::endian::little,
              "values are copied into pages in the machine's byte order");

namespace {

using Page = std::array<uint8_t, kPageSize>;

// Page numbers of the fixed part of every file this writer makes.
constexpr uint32_t kHeaderPage = 0;
constexpr uint32_t kGlobalMapPage = 1;
constexpr uint32_t kCatalogPage = 2;  // readers look for MSysObjects' definition here
constexpr uint32_t kTableMapsPage = 3;

constexpr size_t kRowCountOffset = 0x0c;  // of a data page; the row offsets follow it
constexpr size_t kDataPageHeader = kRowCountOffset + 2;
constexpr size_t kMaxRowsPerPage = 255;   // a row is addressed by one byte
constexpr size_t kMapRowSize = 69;        // a usage map row: type, 4 bytes, 64 bytes of bits
constexpr uint32_t kMapRowPages = 64 * 8;
constexpr uint32_t kMapPagePages = (kPageSize - 4) * 8;  // pages one 0x05 page maps
constexpr size_t kMapPagePointers = (kMapRowSize - 1) / 4;
constexpr uint32_t kJetBuild = 0x0659;    // what Access 2000 writes into every definition
constexpr uint16_t kGeneralSortOrder = 0x0409;

// MSysObjects' own ids: the root of the object tree and the "Tables" container under it.
constexpr int32_t kRootId = 0x0F000000;
constexpr int32_t kTablesId = 0x0F000001;
constexpr int32_t kSystemObjectFlag = INT32_MIN;  // 0x80000000
constexpr int32_t kObjectTypeTable = 1;
constexpr int32_t kObjectTypeContainer = 3;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xffff);
  Put16(p + 2, v >> 16);
}

uint32_t PageRow(uint32_t page, uint32_t row) { return page << 8 | row; }

// ---------------------------------------------------------------- columns and rows

struct ColumnLayout {
  const Column* column;
  uint16_t number;
  bool fixed;
  uint16_t fixedOffset;  // in the row's fixed area
  uint16_t varIndex;     // place in the offset table; for a fixed column the variable
                         // columns before it, as Access writes
  uint16_t length;       // the definition's column length in bytes
};

struct TableLayout {
  std::vector<ColumnLayout> columns;
  uint16_t fixedSize = 0;
  uint16_t varCount = 0;
};

uint16_t FixedLength(ColumnType type) {
  switch (type) {
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::DateTime: return 8;
    default: return 0;
  }
}

TableLayout Layout(const Table& table) {
  if (table.columns.empty() || table.columns.size() > 255)
    throw WriteError("table " + table.name + ": a table needs 1 to 255 columns");
  TableLayout layout;
  for (const Column& c : table.columns) {
    ColumnLayout l{&c, static_cast<uint16_t>(layout.columns.size()), false, 0, layout.varCount, 0};
    if (uint16_t n = FixedLength(c.type)) {
      l.fixed = true;
      l.fixedOffset = layout.fixedSize;
      l.length = n;
      layout.fixedSize = static_cast<uint16_t>(layout.fixedSize + n);
    } else {
      if ((c.type == ColumnType::Text || c.type == ColumnType::Binary) &&
          (c.maxLength == 0 || c.maxLength > 255))
        throw WriteError("column " + c.name + ": a length of 1 to 255 is needed");
      l.length = c.type == ColumnType::Text     ? static_cast<uint16_t>(2 * c.maxLength)
                 : c.type == ColumnType::Binary ? c.maxLength
                                                : 0;
      ++layout.varCount;
    }
    layout.columns.push_back(l);
  }
  return layout;
}

std::string Where(const Table& table, size_t row, const Column& column) {
  return "table " + table.name + ", row " + std::to_string(row + 1) + ", column " + column.name;
}

// One row in Jet 4 form: column count, fixed area, variable data, then from the end of the
// row backwards the null mask, the variable column count, the variable column offsets
// (first column last) and the end of the variable data.
std::vector<uint8_t> EncodeRow(const Table& table, const TableLayout& layout, size_t rowIndex) {
  const std::vector<Value>& values = table.rows[rowIndex];
  if (values.size() != layout.columns.size())
    throw WriteError("table " + table.name + ", row " + std::to_string(rowIndex + 1) +
                     ": wrong number of values");
  const size_t columnCount = layout.columns.size();
  std::vector<uint8_t> row(2 + layout.fixedSize, 0);
  Put16(row.data(), static_cast<uint32_t>(columnCount));
  std::vector<uint8_t> nullMask((columnCount + 7) / 8, 0);
  std::vector<uint16_t> varOffsets;

  for (const ColumnLayout& l : layout.columns) {
    const Value& v = values[l.number];
    const Column& c = *l.column;
    if (!l.fixed) varOffsets.push_back(static_cast<uint16_t>(row.size()));
    if (std::holds_alternative<std::monostate>(v)) continue;  // null: the mask bit stays 0
    nullMask[l.number / 8] |= static_cast<uint8_t>(1u << (l.number % 8));
    uint8_t* fixedAt = row.data() + 2 + l.fixedOffset;
    switch (c.type) {
      case ColumnType::Integer:
      case ColumnType::Long: {
        const int32_t* n = std::get_if<int32_t>(&v);
        if (!n) throw WriteError(Where(table, rowIndex, c) + ": a whole number is needed");
        if (c.type == ColumnType::Integer && (*n < INT16_MIN || *n > INT16_MAX))
          throw WriteError(Where(table, rowIndex, c) + ": out of the 16-bit range");
        if (c.type == ColumnType::Integer)
          Put16(fixedAt, static_cast<uint16_t>(*n));
        else
          Put32(fixedAt, static_cast<uint32_t>(*n));
        break;
      }
      case ColumnType::DateTime: {
        const double* d = std::get_if<double>(&v);
        if (!d) throw WriteError(Where(table, rowIndex, c) + ": a date-time is needed");
        std::memcpy(fixedAt, d, sizeof *d);
        break;
      }
      case ColumnType::Text: {
        const std::string* s = std::get_if<std::string>(&v);
        if (!s) throw WriteError(Where(table, rowIndex, c) + ": a text is needed");
        if (std::string problem = TextProblem(*s, c.maxLength); !problem.empty())
          throw WriteError(Where(table, rowIndex, c) + ": " + problem);
        const std::vector<uint8_t> bytes = EncodeText(Utf8ToUtf16(*s));
        row.insert(row.end(), bytes.begin(), bytes.end());
        break;
      }
      case ColumnType::Binary: {
        const std::string* s = std::get_if<std::string>(&v);
        if (!s || s->size() > c.maxLength)
          throw WriteError(Where(table, rowIndex, c) + ": up to " + std::to_string(c.maxLength) +
                           " bytes are needed");
        row.insert(row.end(), s->begin(), s->end());
        break;
      }
      case ColumnType::Memo:
      case ColumnType::Ole:
        throw WriteError(Where(table, rowIndex, c) + ": long values are not supported");
    }
  }

  if (layout.varCount > 0) {
    const size_t endOfData = row.size();
    row.resize(row.size() + 2 + 2 * varOffsets.size() + 2);
    uint8_t* p = row.data() + endOfData;
    Put16(p, static_cast<uint32_t>(endOfData));
    p += 2;
    for (auto it = varOffsets.rbegin(); it != varOffsets.rend(); ++it, p += 2) Put16(p, *it);
    Put16(p, static_cast<uint32_t>(varOffsets.size()));
  }
  row.insert(row.end(), nullMask.begin(), nullMask.end());
  return row;
}

// ---------------------------------------------------------------- pages

// Pages are handed out by reference while later ones are added, so they live in a deque.
class PageFile {
 public:
  uint32_t Add() {
    pages_.emplace_back();
    pages_.back().fill(0);
    return static_cast<uint32_t>(pages_.size() - 1);
  }
  Page& operator[](uint32_t n) { return pages_[n]; }
  uint32_t Count() const { return static_cast<uint32_t>(pages_.size()); }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out;
    out.reserve(pages_.size() * kPageSize);
    for (const Page& p : pages_) out.insert(out.end(), p.begin(), p.end());
    return out;
  }

 private:
  std::deque<Page> pages_;
};

// A data page owned by the table whose definition is on `owner`: rows are stored from the
// end of the page towards its start, their offsets listed after the row count.
class DataPage {
 public:
  DataPage(Page& page, uint32_t owner) : page_(page) {
    page_[0] = 0x01;
    page_[1] = 0x01;
    Put32(&page_[4], owner);
    Update();
  }
  size_t FreeSpace() const { return kPageSize - kDataPageHeader - 2 * rows_ - used_; }
  bool Fits(size_t rowSize) const {
    return rows_ < kMaxRowsPerPage && rowSize + 2 <= FreeSpace();
  }
  uint32_t Add(const std::vector<uint8_t>& row) {
    used_ += row.size();
    const size_t start = kPageSize - used_;
    std::memcpy(&page_[start], row.data(), row.size());
    Put16(&page_[kDataPageHeader + 2 * rows_], static_cast<uint32_t>(start));
    ++rows_;
    Update();
    return static_cast<uint32_t>(rows_ - 1);
  }

 private:
  void Update() {
    Put16(&page_[2], static_cast<uint32_t>(FreeSpace()));
    Put16(&page_[kRowCountOffset], static_cast<uint32_t>(rows_));
  }
  Page& page_;
  size_t rows_ = 0;
  size_t used_ = 0;
};

struct StoredTable {
  uint32_t definitionPage = 0;
  std::vector<uint32_t> dataPages;
  std::vector<uint32_t> pagesWithRoom;
  uint32_t usedMapRow = 0, freeMapRow = 0;  // page-row pointers
};

void WriteRows(PageFile& file, const Table& table, const TableLayout& layout, StoredTable& stored) {
  std::optional<DataPage> current;
  for (size_t i = 0; i < table.rows.size(); ++i) {
    std::vector<uint8_t> row = EncodeRow(table, layout, i);
    if (row.size() + 2 > kPageSize - kDataPageHeader)
      throw WriteError("table " + table.name + ", row " + std::to_string(i + 1) +
                       ": too long for a page");
    if (!current || !current->Fits(row.size())) {
      const uint32_t n = file.Add();
      stored.dataPages.push_back(n);
      current.emplace(file[n], stored.definitionPage);
    }
    current->Add(row);
  }
  // The free-space map lists the pages a later insert may still use.
  for (uint32_t n : stored.dataPages)
    if ((file[n][2] | file[n][3] << 8) != 0) stored.pagesWithRoom.push_back(n);
}

// A usage map row: bit n set for the pages n below `reach` that `isSet` picks. Within 512
// pages the bits lie in the row itself (type 0, counting from page 0); beyond, the row lists
// 0x05 pages that hold them, each for the next (4096 - 4) * 8 pages.
std::vector<uint8_t> UsageMap(PageFile& file, uint32_t reach,
                              const std::function<bool(uint32_t)>& isSet) {
  std::vector<uint8_t> row(kMapRowSize, 0);
  auto setBits = [&](uint8_t* bits, uint32_t first, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
      if (isSet(first + i)) bits[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  };
  if (reach <= kMapRowPages) {
    setBits(&row[5], 0, kMapRowPages);
    return row;
  }
  row[0] = 0x01;
  const uint32_t mapPages = (reach - 1) / kMapPagePages + 1;
  if (mapPages > kMapPagePointers) throw WriteError("the database would be too large");
  std::vector<uint32_t> numbers;
  for (uint32_t i = 0; i < mapPages; ++i) {
    const uint32_t m = file.Add();
    file[m][0] = 0x05;
    file[m][1] = 0x01;
    Put32(&row[1 + 4 * i], m);
    numbers.push_back(m);
  }
  for (uint32_t i = 0; i < mapPages; ++i) setBits(&file[numbers[i]][4], i * kMapPagePages, kMapPagePages);
  return row;
}

std::vector<uint8_t> TableMap(PageFile& file, const std::vector<uint32_t>& pages) {
  std::vector<bool> member;
  for (uint32_t n : pages) {
    if (n >= member.size()) member.resize(n + 1);
    member[n] = true;
  }
  return UsageMap(file, static_cast<uint32_t>(member.size()),
                  [&](uint32_t n) { return n < member.size() && member[n]; });
}

// The global map lists the pages that are free: here only those past the end of the file,
// as far as the map reaches. Its own 0x05 pages, if it needs any, are part of the file.
std::vector<uint8_t> GlobalFreeMap(PageFile& file) {
  return UsageMap(file, file.Count() <= kMapRowPages ? kMapRowPages : file.Count() + 1,
                  [&](uint32_t n) { return n >= file.Count(); });
}

void PutName(std::vector<uint8_t>& out, const std::string& name) {
  const std::u16string units = Utf8ToUtf16(name);
  if (units.empty() || units.size() > 64) throw WriteError("name " + name + ": 1 to 64 characters");
  const size_t at = out.size();
  out.resize(at + 2 + 2 * units.size());
  Put16(&out[at], static_cast<uint32_t>(2 * units.size()));
  for (size_t i = 0; i < units.size(); ++i) Put16(&out[at + 2 + 2 * i], units[i]);
}

void WriteDefinition(Page& page, const Table& table, const TableLayout& layout, bool system,
                     const StoredTable& stored) {
  std::vector<uint8_t> d(0x3f, 0);  // the fixed part, from the page's start
  d[0] = 0x02;
  d[1] = 0x01;
  Put32(&d[0x0c], kJetBuild);
  Put32(&d[0x10], static_cast<uint32_t>(table.rows.size()));
  d[0x18] = 0x01;  // autonumber flag, as Access sets it
  d[0x28] = system ? 0x53 : 0x4e;
  const uint32_t columnCount = static_cast<uint32_t>(layout.columns.size());
  Put16(&d[0x29], columnCount);
  Put16(&d[0x2b], layout.varCount);
  Put16(&d[0x2d], columnCount);
  // no indexes: both index counts at 0x2f and 0x33 stay 0
  Put32(&d[0x37], stored.usedMapRow);
  Put32(&d[0x3b], stored.freeMapRow);

  for (const ColumnLayout& l : layout.columns) {
    uint8_t c[25] = {};
    const bool text = l.column->type == ColumnType::Text;
    c[0] = static_cast<uint8_t>(l.column->type);
    Put32(&c[1], kJetBuild);
    Put16(&c[5], l.number);
    Put16(&c[7], l.varIndex);
    Put16(&c[9], l.number);
    Put16(&c[11], kGeneralSortOrder);
    c[15] = static_cast<uint8_t>((l.fixed ? 0x01 : 0x00) | 0x02);  // fixed length; may be null
    c[16] = text ? 0x01 : 0x00;  // text may be stored compressed
    Put16(&c[21], l.fixedOffset);
    Put16(&c[23], l.length);
    d.insert(d.end(), c, c + sizeof c);
  }
  for (const ColumnLayout& l : layout.columns) PutName(d, l.column->name);
  // End of the (empty) list of long-value page maps of the columns.
  d.insert(d.end(), {0xff, 0xff, 0, 0, 0, 0, 0, 0, 0, 0});

  if (d.size() > kPageSize)
    throw WriteError("table " + table.name + ": the definition does not fit one page");
  Put32(&d[0x08], static_cast<uint32_t>(d.size() - 8));
  Put16(&d[0x02], static_cast<uint32_t>(kPageSize - d.size()));
  std::copy(d.begin(), d.end(), page.begin());
}

Table CatalogTable() {
  Table t;
  t.name = "MSysObjects";
  using T = ColumnType;
  t.columns = {{"Id", T::Long},           {"ParentId", T::Long},     {"Name", T::Text},
               {"Type", T::Integer},      {"DateCreate", T::DateTime}, {"DateUpdate", T::DateTime},
               {"Owner", T::Binary},      {"Flags", T::Long},        {"Database", T::Memo},
               {"Connect", T::Memo},      {"ForeignName", T::Text},  {"RmtInfoShort", T::Binary},
               {"RmtInfoLong", T::Ole},   {"Lv", T::Ole},            {"LvProp", T::Ole},
               {"LvModule", T::Ole},      {"LvExtra", T::Ole}};
  return t;
}

std::vector<Value> CatalogRow(int32_t id, int32_t parent, const std::string& name, int32_t type,
                              int32_t flags, TDateTime created) {
  std::vector<Value> row(17);
  row[0] = id;
  row[1] = parent;
  row[2] = name;
  row[3] = type;
  row[4] = created;
  row[5] = created;
  row[7] = flags;
  return row;
}

void WriteHeader(Page& page, const std::string& password, TDateTime created) {
  static const char kMagic[] = "Standard Jet DB";
  page[1] = 0x01;
  std::memcpy(&page[4], kMagic, sizeof kMagic);
  page[0x14] = 0x01;  // Jet 4
  // Constants of the obfuscated part, as every Access 2000 database has them.
  static const uint8_t kFixed[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                   0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                   0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  std::memcpy(&page[0x18], kFixed, sizeof kFixed);  // where the masked part starts
  Put16(&page[0x3c], 1252);  // code page; Jet 4 text is Unicode anyway
  // 0x3e: database key 0, so that no page other than this one is encrypted
  Put32(&page[0x6e], kGeneralSortOrder);
  std::memcpy(&page[0x72], &created, sizeof created);  // creation date
  JetToggleHeaderMask(std::span<uint8_t>(page.data(), page.size()));
  // The password goes in last: its mask is keyed by the creation date as stored above.
  if (!JetEncodePassword(std::span<uint8_t>(page.data(), page.size()), password))
    throw WriteError("password: not valid UTF-8 or longer than " +
                     std::to_string(kJetPasswordMaxLength) + " characters");
  Put32(&page[0x98], 0x0654);
  std::memcpy(&page[0x9c], "4.0", 4);
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  if (text.empty()) return out;
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw WriteError("no UTF-8 converter");
  std::vector<char> in(text.begin(), text.end());
  std::vector<char> buffer(text.size() * 2 + 4);  // UTF-16 never needs more than twice UTF-8
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = buffer.data();
  size_t outLeft = buffer.size();
  const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || inLeft != 0) throw WriteError("not valid UTF-8");
  const size_t bytes = buffer.size() - outLeft;
  out.resize(bytes / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<uint8_t>(buffer[2 * i]) |
                                   static_cast<uint8_t>(buffer[2 * i + 1]) << 8);
  return out;
}

std::vector<uint8_t> EncodeText(const std::u16string& text) {
  // A 0x00 byte switches between the one-byte and the two-byte mode of the compressed
  // form, so a character with a zero low byte (U+0100, U+3000, U+4E00, ...) has no place in
  // it; nor has U+0000.
  bool compressible = std::all_of(text.begin(), text.end(), [](char16_t u) { return (u & 0xff) != 0; });
  std::vector<uint8_t> compressed;
  if (compressible) {
    compressed = {0xff, 0xfe};
    bool oneByte = true;
    for (char16_t u : text) {
      const bool wantOneByte = u <= 0xff;
      if (wantOneByte != oneByte) {
        compressed.push_back(0x00);
        oneByte = wantOneByte;
      }
      compressed.push_back(static_cast<uint8_t>(u));
      if (!oneByte) compressed.push_back(static_cast<uint8_t>(u >> 8));
    }
  }
  const bool startsWithMark = !text.empty() && text[0] == 0xfeff;
  if (compressible && (startsWithMark || compressed.size() < 2 * text.size())) return compressed;
  if (startsWithMark)
    throw WriteError("a text that begins with U+FEFF and holds a character ending in 0x00 "
                     "cannot be stored");
  std::vector<uint8_t> plain(2 * text.size());
  for (size_t i = 0; i < text.size(); ++i) Put16(&plain[2 * i], text[i]);
  return plain;
}

std::string TextProblem(const std::string& text, uint16_t maxLength) {
  try {
    const std::u16string units = Utf8ToUtf16(text);
    if (units.size() > maxLength) return "longer than " + std::to_string(maxLength) + " characters";
    EncodeText(units);
    return "";
  } catch (const WriteError& e) {
    return e.what();
  }
}

std::vector<uint8_t> BuildDatabase(const std::vector<Table>& tables, const std::string& password,
                                   TDateTime created) {
  PageFile file;
  for (uint32_t n : {kHeaderPage, kGlobalMapPage, kCatalogPage, kTableMapsPage})
    if (file.Add() != n) throw WriteError("page order");

  // User tables first, so that the catalogue can name their definition pages.
  std::vector<TableLayout> layouts;
  std::vector<StoredTable> stored(tables.size());
  Table catalog = CatalogTable();
  catalog.rows.push_back(
      CatalogRow(kTablesId, kRootId, "Tables", kObjectTypeContainer, kSystemObjectFlag, created));
  catalog.rows.push_back(CatalogRow(static_cast<int32_t>(kCatalogPage), kTablesId, "MSysObjects",
                                    kObjectTypeTable, kSystemObjectFlag, created));
  for (size_t i = 0; i < tables.size(); ++i) {
    layouts.push_back(Layout(tables[i]));
    stored[i].definitionPage = file.Add();
    WriteRows(file, tables[i], layouts[i], stored[i]);
    catalog.rows.push_back(CatalogRow(static_cast<int32_t>(stored[i].definitionPage), kTablesId,
                                      tables[i].name, kObjectTypeTable, 0, created));
  }
  const TableLayout catalogLayout = Layout(catalog);
  StoredTable catalogStored;
  catalogStored.definitionPage = kCatalogPage;
  WriteRows(file, catalog, catalogLayout, catalogStored);

  // Usage maps, two rows per table on their own page; the global map goes last, when the
  // size of the file is known.
  DataPage maps(file[kTableMapsPage], 0);
  auto addMaps = [&](StoredTable& s) {
    std::vector<uint8_t> used = TableMap(file, s.dataPages);
    std::vector<uint8_t> room = TableMap(file, s.pagesWithRoom);
    if (!maps.Fits(2 * kMapRowSize + 2)) throw WriteError("too many tables");
    s.usedMapRow = PageRow(kTableMapsPage, maps.Add(used));
    s.freeMapRow = PageRow(kTableMapsPage, maps.Add(room));
  };
  addMaps(catalogStored);
  for (StoredTable& s : stored) addMaps(s);

  WriteDefinition(file[kCatalogPage], catalog, catalogLayout, true, catalogStored);
  for (size_t i = 0; i < tables.size(); ++i)
    WriteDefinition(file[stored[i].definitionPage], tables[i], layouts[i], false, stored[i]);

  std::vector<uint8_t> globalMap = GlobalFreeMap(file);
  DataPage global(file[kGlobalMapPage], 1);
  global.Add(globalMap);
  global.Add(std::vector<uint8_t>(kMapRowSize, 0));

  WriteHeader(file[kHeaderPage], password, created);
  return file.Bytes();
}

}  // namespace qvu::jet
