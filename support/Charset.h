// Text in a named character set (an HTTP charset, a property set's code page as "CP932")
// turned into the program's UTF-8.
#pragma once

#include <string>

namespace qvu {

// False when the character set is unknown. An invalid or cut-off sequence fails the whole
// conversion, or, with replaceInvalid, becomes U+FFFD and the conversion goes on after the
// sequence's first byte: texts from the network are shown as far as they can be read.
bool CharsetToUtf8(const std::string& bytes, const std::string& charset, bool replaceInvalid,
                   std::string& out);

}  // namespace qvu
