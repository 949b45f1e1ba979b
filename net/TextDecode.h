// Turning a response body into the program's UTF-8 text.
#pragma once

#include <string>

namespace qvu {

// The charset parameter of a Content-Type value ("text/xml; charset=\"Shift_JIS\"" gives
// "Shift_JIS"); "" when there is none.
std::string CharsetOf(const std::string& contentType);

// The encoding named by an XML declaration at the start of the bytes; "" when none.
std::string XmlDeclaredEncoding(const std::string& bytes);

// The body as UTF-8 text, decoded by the first of: the charset the response names, a
// byte order mark, the XML declaration's encoding (when xmlDeclaration is true), UTF-8.
// A charset unknown to the system counts as not named. Bytes that are invalid in the
// encoding become U+FFFD, so the text is always valid UTF-8; a byte order mark is dropped.
std::string DecodeBody(const std::string& bytes, const std::string& charset,
                       bool xmlDeclaration);

}  // namespace qvu
