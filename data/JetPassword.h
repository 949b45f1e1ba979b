// The database password as a Jet header page (page 0) keeps it.
//
// From offset 0x18 the header page is obfuscated with RC4 under the fixed key 0x6b39dac7,
// over 126 bytes in Jet 3 files and 128 bytes in later ones. Under that layer the password
// field lies at 0x42: Jet 3 keeps 20 single-byte characters; later versions keep 20 UTF-16LE
// code units (40 bytes), each byte further masked with the four little-endian bytes of the
// whole days of the creation date stored at 0x72. Unused positions hold zeros, so a database
// without a password keeps only the masks.
//
// The settings-database writer encodes with the same functions, so what it writes is exactly
// what the connection layer reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qvu {

constexpr size_t kJetVersionOffset = 0x14;
// The header page must hold at least this much for both codec functions.
constexpr size_t kJetHeaderMinBytes = 0x18 + 128;
// The longest password each version can hold: bytes for Jet 3, UTF-16 code units later.
constexpr size_t kJetPasswordMaxLength = 20;

// Reads the stored password as UTF-8 ("" for none). Jet 3 bytes are taken as Latin-1.
// False only when the page is shorter than kJetHeaderMinBytes.
bool JetDecodePassword(std::span<const uint8_t> headerPage, std::string& password);

// Stores password (UTF-8) in a header page as it lies in the file, leaving every other byte
// as it was. False, with the page untouched, when the page is too short, the text is not
// valid UTF-8, or it does not fit: more than 20 UTF-16 code units, or for Jet 3 more than 20
// characters or any character beyond Latin-1.
bool JetEncodePassword(std::span<uint8_t> headerPage, const std::string& password);

// Applies or removes (the cipher is its own inverse) the RC4 layer from offset 0x18 of a
// header page, over the length its version uses. Nothing happens to a page shorter than
// kJetHeaderMinBytes. The writer of new databases lays its plain header out, then masks it.
void JetToggleHeaderMask(std::span<uint8_t> headerPage);

}  // namespace qvu
