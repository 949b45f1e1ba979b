#include "support/Typeconvert.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qvu {

std::string FloatToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  char buf[64];
  bool negative = value < 0;
  // Round to 15 significant digits.
  std::snprintf(buf, sizeof buf, "%.14E", negative ? -value : value);
  std::string s = buf;
  size_t e = s.find('E');
  int exponent = std::atoi(s.c_str() + e + 1);
  std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out;
  if (exponent >= 15 || exponent < -5) {
    out = digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::string(exponent < 0 ? "-" : "") + std::to_string(std::abs(exponent));
  } else if (exponent < 0) {
    out = "0." + std::string(-exponent - 1, '0') + digits;
  } else if (static_cast<int>(digits.size()) <= exponent + 1) {
    out = digits + std::string(exponent + 1 - digits.size(), '0');
  } else {
    out = digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
  }
  return negative ? "-" + out : out;
}

std::string VariantToText(const Variant& v) {
  switch (v.kind) {
    case Variant::Kind::Empty:
    case Variant::Kind::Null:
      return "";
    case Variant::Kind::Text:
      return v.text;
    case Variant::Kind::Integer:
      return std::to_string(v.integer);
    case Variant::Kind::Float:
      return FloatToText(v.real);
    case Variant::Kind::Currency: {
      int64_t whole = v.integer / 10000;
      int64_t frac = std::llabs(v.integer % 10000);
      std::string out = (v.integer < 0 && whole == 0 ? "-" : "") + std::to_string(whole);
      if (frac != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(frac));
        std::string f = buf;
        while (f.back() == '0') f.pop_back();
        out += "." + f;
      }
      return out;
    }
    case Variant::Kind::DateTime:
      return DateTimeToText(v.real);
    case Variant::Kind::Boolean:
      return v.boolean ? "True" : "False";
  }
  return "";
}

}  // namespace qvu
