#include "data/JetHeader.h"

#include <cstring>
#include <fstream>
#include <system_error>

#include "data/JetErrors.h"
#include "data/JetPassword.h"
#include "support/Utf8Path.h"

namespace qvu {

std::vector<uint8_t> JetCheckedHeader(const std::string& path) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(Utf8Path(path), ec);
  if (status.type() == std::filesystem::file_type::not_found)
    throw EJetOleError(kJetErrUnspecified, "Could not find file '" + path + "'.");
  const auto cannotOpen = [&] {
    return EJetOleError(kJetErrUnspecified,
                        "The Microsoft Jet database engine cannot open the file '" + path +
                            "'.  It is already opened exclusively by another user, or you need permission to view its data.");
  };
  if (ec || status.type() != std::filesystem::file_type::regular) throw cannotOpen();
  const uintmax_t size = std::filesystem::file_size(Utf8Path(path), ec);
  std::ifstream in(Utf8Path(path), std::ios::binary);
  if (ec || !in) throw cannotOpen();
  std::vector<uint8_t> page(4096);
  in.read(reinterpret_cast<char*>(page.data()), static_cast<std::streamsize>(page.size()));
  page.resize(static_cast<size_t>(in.gcount()));
  static const uint8_t kMagic[4] = {0x00, 0x01, 0x00, 0x00};
  if (page.size() < kJetHeaderMinBytes || std::memcmp(page.data(), kMagic, 4) != 0 ||
      std::memcmp(page.data() + 4, "Standard Jet DB", 16) != 0)
    throw JetFormatError(path);
  // Jet 3 pages are 2 KB, every later version's 4 KB. The catalogue's definition lies on
  // page 2, so a database has at least three pages.
  const uintmax_t pageSize = page[kJetVersionOffset] == 0 ? 2048 : 4096;
  if (size < 3 * pageSize || size % pageSize != 0) throw JetFormatError(path);
  return page;
}

}  // namespace qvu
