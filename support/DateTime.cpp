#include "support/DateTime.h"

#include <cmath>
#include <cstdio>

#include "support/LocalClock.h"

namespace qvu {
namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 0001-01-01 to the given date (proleptic Gregorian).
int64_t DaysFromCivilStart(int y, int m, int d) {
  int64_t days = 0;
  int64_t py = y - 1;
  days = py * 365 + py / 4 - py / 100 + py / 400;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  return days + d - 1;
}

const int64_t kOriginDays = DaysFromCivilStart(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

}  // namespace

bool TryEncodeDateTime(const DateTimeParts& p, TDateTime& out) {
  if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12) return false;
  if (p.day < 1 || p.day > DaysInMonth(p.year, p.month)) return false;
  if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 ||
      p.second > 59 || p.millisecond < 0 || p.millisecond > 999)
    return false;
  double days = static_cast<double>(DaysFromCivilStart(p.year, p.month, p.day) - kOriginDays);
  double frac = (((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond) / kMsPerDay;
  // Before the origin the fraction counts away from zero, as in the platform's type.
  out = days >= 0 ? days + frac : days - frac;
  return true;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  DateTimeParts p;
  double whole = std::trunc(value);
  int64_t ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  int64_t day = static_cast<int64_t>(whole);
  if (ms >= 86400000) {  // rounding reached the next day
    ms -= 86400000;
    day += value >= 0 ? 1 : -1;
  }
  int64_t n = day + kOriginDays;  // days since 0001-01-01
  int y = 1;
  int64_t c400 = n / 146097;
  n %= 146097;
  y += static_cast<int>(c400 * 400);
  int64_t c100 = std::min<int64_t>(n / 36524, 3);
  n -= c100 * 36524;
  y += static_cast<int>(c100 * 100);
  int64_t c4 = n / 1461;
  n %= 1461;
  y += static_cast<int>(c4 * 4);
  int64_t c1 = std::min<int64_t>(n / 365, 3);
  n -= c1 * 365;
  y += static_cast<int>(c1);
  int m = 1;
  while (n >= DaysInMonth(y, m)) n -= DaysInMonth(y, m++);
  p.year = y;
  p.month = m;
  p.day = static_cast<int>(n) + 1;
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

TDateTime FromUnixTime(std::time_t t) {
  std::tm tm{};
  if (!LocalTimeOf(t, tm)) return 0;
  DateTimeParts p{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                  tm.tm_sec > 59 ? 59 : tm.tm_sec, 0};
  TDateTime out = 0;
  return TryEncodeDateTime(p, out) ? out : 0;
}

TDateTime Now() {
  std::time_t seconds = 0;
  int milliseconds = 0;
  WallClock(seconds, milliseconds);
  return FromUnixTime(seconds) + milliseconds / kMsPerDay;
}

std::string DateTimeToText(TDateTime value) {
  DateTimeParts p = DecodeDateTime(value);
  char buf[64];
  if (p.hour == 0 && p.minute == 0 && p.second == 0 && p.millisecond == 0)
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", p.year, p.month, p.day);
  else
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
  return buf;
}

namespace {

// Reads minDigits..maxDigits decimal digits at s[pos]; a further digit is refused.
bool ReadNumber(const std::string& s, size_t& pos, int minDigits, int maxDigits, int& out,
                int* digits = nullptr) {
  size_t start = pos;
  int v = 0;
  while (pos < s.size() && pos - start < static_cast<size_t>(maxDigits) && s[pos] >= '0' &&
         s[pos] <= '9')
    v = v * 10 + (s[pos++] - '0');
  if (pos - start < static_cast<size_t>(minDigits)) return false;
  if (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') return false;  // too many digits
  out = v;
  if (digits) *digits = static_cast<int>(pos - start);
  return true;
}

bool Expect(const std::string& s, size_t& pos, char c) {
  if (pos < s.size() && s[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

// The digits of a fraction of a second as milliseconds; digits past the third are dropped,
// so a time never reaches the next second.
bool ReadFraction(const std::string& s, size_t& pos, int& millisecond) {
  size_t start = pos;
  int ms = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
    if (pos - start < 3) ms = ms * 10 + (s[pos] - '0');
    ++pos;
  }
  size_t digits = pos - start;
  if (digits == 0) return false;
  for (size_t i = digits; i < 3; ++i) ms *= 10;
  millisecond = ms;
  return true;
}

// A two-digit year lies in the 100 years that start 50 years before the current one.
int FullYear(int twoDigits, int currentYear) {
  const int pivot = currentYear - 50;
  int year = pivot / 100 * 100 + twoDigits;
  return year < pivot ? year + 100 : year;
}

}  // namespace

bool TryTextToDateTime(const std::string& text, TDateTime& out, int currentYear) {
  size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return false;
  size_t e = text.find_last_not_of(' ');
  std::string s = text.substr(b, e - b + 1);
  size_t pos = 0;
  DateTimeParts p;
  int yearDigits = 0;
  if (!ReadNumber(s, pos, 2, 4, p.year, &yearDigits) || yearDigits == 3 ||
      !Expect(s, pos, '/') || !ReadNumber(s, pos, 1, 2, p.month) || !Expect(s, pos, '/') ||
      !ReadNumber(s, pos, 1, 2, p.day))
    return false;
  if (yearDigits == 2) p.year = FullYear(p.year, currentYear);
  p.hour = p.minute = p.second = p.millisecond = 0;
  if (pos < s.size()) {
    if (s[pos] != ' ') return false;
    while (pos < s.size() && s[pos] == ' ') ++pos;
    if (!ReadNumber(s, pos, 1, 2, p.hour) || !Expect(s, pos, ':') ||
        !ReadNumber(s, pos, 1, 2, p.minute))
      return false;
    if (Expect(s, pos, ':')) {
      if (!ReadNumber(s, pos, 1, 2, p.second)) return false;
      if (Expect(s, pos, '.') && !ReadFraction(s, pos, p.millisecond)) return false;
    }
    if (pos != s.size()) return false;
  }
  return TryEncodeDateTime(p, out);
}

bool TryTextToDateTime(const std::string& text, TDateTime& out) {
  return TryTextToDateTime(text, out, DecodeDateTime(Now()).year);
}

TDateTime TextToDateTime(const std::string& text) {
  TDateTime v = 0;
  if (!TryTextToDateTime(text, v))
    throw EConvertError("'" + text + "' is not a valid date and time");
  return v;
}

}  // namespace qvu
