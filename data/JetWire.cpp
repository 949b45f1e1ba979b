#include "data/JetWire.h"

#include <cstdint>
#include <cstring>

#include "data/JetErrors.h"

namespace qvu {
namespace {

enum : uint8_t { kTagError = 'E', kTagRows = 'R' };
enum : uint8_t { kKindOther = 0, kKindOle = 1, kKindAdo = 2 };

struct Writer {
  std::string& out;
  void U8(uint8_t v) { out += static_cast<char>(v); }
  template <typename T>
  void Raw(T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void U32(uint32_t v) { Raw(v); }
  void Str(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    out += s;
  }
};

// Reads what Writer wrote; a short stream throws, so a child that died half-way can never
// be taken for a result.
struct Reader {
  const std::string& in;
  size_t pos = 0;
  void Need(size_t n) {
    if (in.size() - pos < n) throw std::out_of_range("short");
  }
  template <typename T>
  T Raw() {
    Need(sizeof(T));
    T v;
    std::memcpy(&v, in.data() + pos, sizeof v);
    pos += sizeof v;
    return v;
  }
  uint8_t U8() { return Raw<uint8_t>(); }
  uint32_t U32() { return Raw<uint32_t>(); }
  std::string Str() {
    uint32_t n = U32();
    Need(n);
    std::string s = in.substr(pos, n);
    pos += n;
    return s;
  }
};

void WriteValue(Writer& w, const Variant& v) {
  w.U8(static_cast<uint8_t>(v.kind));
  switch (v.kind) {
    case Variant::Kind::Text: w.Str(v.text); break;
    case Variant::Kind::Integer:
    case Variant::Kind::Currency: w.Raw(v.integer); break;
    case Variant::Kind::Float:
    case Variant::Kind::DateTime: w.Raw(v.real); break;
    case Variant::Kind::Boolean: w.U8(v.boolean); break;
    case Variant::Kind::Null:
    case Variant::Kind::Empty: break;
  }
}

// False for a kind no writer writes.
bool ReadValue(Reader& r, Variant& v) {
  switch (static_cast<Variant::Kind>(r.U8())) {
    case Variant::Kind::Text: v = Variant::Text(r.Str()); return true;
    case Variant::Kind::Integer: v = Variant::Integer(r.Raw<int64_t>()); return true;
    case Variant::Kind::Currency: v = Variant::Currency(r.Raw<int64_t>()); return true;
    case Variant::Kind::Float: v = Variant::Float(r.Raw<double>()); return true;
    case Variant::Kind::DateTime: v = Variant::DateTime(r.Raw<double>()); return true;
    case Variant::Kind::Boolean: v = Variant::Boolean(r.U8() != 0); return true;
    case Variant::Kind::Null: v = Variant::Null(); return true;
    case Variant::Kind::Empty: v = Variant(); return true;
  }
  return false;
}

}  // namespace

std::string JetEncode(const std::function<JetRows()>& work) noexcept {
  std::string out;
  try {
    Writer w{out};
    try {
      JetRows result = work();
      w.U8(kTagRows);
      w.U32(static_cast<uint32_t>(result.fields.size()));
      for (const std::string& field : result.fields) w.Str(field);
      w.U32(static_cast<uint32_t>(result.rows.size()));
      for (const auto& row : result.rows)
        for (size_t i = 0; i < result.fields.size(); ++i) WriteValue(w, i < row.size() ? row[i] : Variant());
    } catch (const EJetError& e) {
      out.clear();
      w.U8(kTagError);
      auto* ole = dynamic_cast<const EJetOleError*>(&e);
      w.U8(ole ? kKindOle : dynamic_cast<const EJetAdoError*>(&e) ? kKindAdo : kKindOther);
      w.U32(ole ? static_cast<uint32_t>(ole->hresult) : 0);
      w.Str(e.what());
    }
  } catch (...) {
    out.clear();
  }
  return out;
}

JetRows JetDecode(const std::optional<std::string>& data, const std::string& path) {
  if (!data) throw JetFormatError(path);
  Reader r{*data};
  JetRows result;
  try {
    uint8_t tag = r.U8();
    if (tag == kTagError) {
      uint8_t kind = r.U8();
      int32_t hresult = static_cast<int32_t>(r.U32());
      std::string message = r.Str();
      if (kind == kKindOle) throw EJetOleError(hresult, message);
      if (kind == kKindAdo) throw EJetAdoError(message);
      throw EJetError(message);
    }
    if (tag != kTagRows) throw JetFormatError(path);
    uint32_t columns = r.U32();
    for (uint32_t i = 0; i < columns; ++i) result.fields.push_back(r.Str());
    uint32_t count = r.U32();
    if (columns == 0 && count != 0) throw JetFormatError(path);
    for (uint32_t n = 0; n < count; ++n) {
      std::vector<Variant> row(columns);
      for (Variant& v : row)
        if (!ReadValue(r, v)) throw JetFormatError(path);
      result.rows.push_back(std::move(row));
    }
  } catch (const std::out_of_range&) {
    throw JetFormatError(path);
  }
  return result;
}

}  // namespace qvu
