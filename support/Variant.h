// The variant that database fields arrive in: the kinds a Jet column can hold.
#pragma once

#include <cstdint>
#include <string>

#include "support/DateTime.h"

namespace qvu {

struct Variant {
  enum class Kind { Empty, Null, Text, Integer, Float, Currency, DateTime, Boolean };

  Kind kind = Kind::Empty;
  std::string text;      // Text (UTF-8)
  int64_t integer = 0;   // Integer; Currency in ten-thousandths (the fixed-point money type)
  double real = 0;       // Float; DateTime (TDateTime)
  bool boolean = false;  // Boolean

  static Variant Null() { Variant v; v.kind = Kind::Null; return v; }
  static Variant Text(std::string s) { Variant v; v.kind = Kind::Text; v.text = std::move(s); return v; }
  static Variant Integer(int64_t i) { Variant v; v.kind = Kind::Integer; v.integer = i; return v; }
  static Variant Float(double d) { Variant v; v.kind = Kind::Float; v.real = d; return v; }
  static Variant Currency(int64_t tenThousandths) {
    Variant v; v.kind = Kind::Currency; v.integer = tenThousandths; return v;
  }
  static Variant DateTime(TDateTime t) { Variant v; v.kind = Kind::DateTime; v.real = t; return v; }
  static Variant Boolean(bool b) { Variant v; v.kind = Kind::Boolean; v.boolean = b; return v; }

  bool IsNullOrEmpty() const { return kind == Kind::Null || kind == Kind::Empty; }
};

}  // namespace qvu
