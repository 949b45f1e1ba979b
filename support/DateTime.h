// The program's one date-time type: days since 1899-12-30 00:00 as a double, local time,
// the time of day as the fraction. Texts always use the program's fixed formats
// "yyyy/MM/dd" and "H:mm:ss", whatever the machine's locale says.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>

namespace qvu {

using TDateTime = double;

// The platform's conversion error: raised by TextToDateTime for a text that is not a
// date-time in the program's formats.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// False when a field is out of range (month 13, 30 February, hour 24, ...).
bool TryEncodeDateTime(const DateTimeParts& parts, TDateTime& out);
DateTimeParts DecodeDateTime(TDateTime value);

// Local time of the machine's clock.
TDateTime Now();
// Local calendar time of a POSIX time; seconds only.
TDateTime FromUnixTime(std::time_t t);

// "yyyy/MM/dd H:mm:ss"; the date alone when the value is exactly midnight.
std::string DateTimeToText(TDateTime value);

// Accepts a date "y/M/d" (a four- or two-digit year, one- or two-digit month and day),
// optionally followed by blanks and a time "H:m" or "H:m:s" (one or two digits each), the
// seconds optionally with a fraction after "." (milliseconds; further digits are dropped).
// A two-digit year is taken in the century window that starts 50 years before currentYear.
// Blanks around the whole text are allowed. Anything else raises EConvertError.
TDateTime TextToDateTime(const std::string& text);
bool TryTextToDateTime(const std::string& text, TDateTime& out);
bool TryTextToDateTime(const std::string& text, TDateTime& out, int currentYear);

}  // namespace qvu
