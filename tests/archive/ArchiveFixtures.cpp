#include "tests/archive/ArchiveFixtures.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qvu::test {

fs::path Native(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8(const fs::path& path) {
  std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

ScratchDir::ScratchDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("qvu-archive-" + std::to_string(random() % 1000000000));
    if (fs::create_directory(candidate)) path_ = fs::canonical(candidate);
  }
  if (path_.empty()) throw std::runtime_error("no scratch folder");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Read-only files stop a removal on Windows.
  for (auto it = fs::recursive_directory_iterator(path_, ignored); !ignored && it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
  std::string local, central;
  for (const ZipEntry& e : entries) {
    // The fields the local header and the central directory share, from "version needed" on.
    std::string common;
    Put16(common, 20);
    Put16(common, e.utf8Flag ? 0x800 : 0);
    Put16(common, 0);  // stored
    Put16(common, (12u << 11) | (34u << 5));
    Put16(common, ((2024u - 1980u) << 9) | (5u << 5) | 6u);
    Put32(common, crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    Put32(common, static_cast<uint32_t>(e.data.size()));
    Put32(common, static_cast<uint32_t>(e.data.size()));
    Put16(common, static_cast<uint32_t>(e.rawName.size()));
    Put16(common, 0);  // no extra field
    bool dir = !e.rawName.empty() && (e.rawName.back() == '/' || e.rawName.back() == '\\');
    uint32_t offset = static_cast<uint32_t>(local.size());

    Put32(local, 0x04034b50);
    local += common + e.rawName + e.data;

    Put32(central, 0x02014b50);
    Put16(central, e.unixMode != 0 ? (3u << 8) | 30u : 20u);
    central += common;
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, (e.unixMode << 16) | (dir ? 0x10u : 0u));
    Put32(central, offset);
    central += e.rawName;
  }
  std::string end;
  Put32(end, 0x06054b50);
  Put32(end, 0);  // disk numbers
  Put16(end, static_cast<uint32_t>(entries.size()));
  Put16(end, static_cast<uint32_t>(entries.size()));
  Put32(end, static_cast<uint32_t>(central.size()));
  Put32(end, static_cast<uint32_t>(local.size()));
  Put16(end, 0);
  WriteFile(path, local + central + end);
}

void WriteTar(const std::string& path, const std::vector<TarEntry>& entries, bool gzip) {
  struct archive* a = archive_write_new();
  archive_write_set_format_pax_restricted(a);
  if (gzip) archive_write_add_filter_gzip(a);
  std::string bytes(1 << 20, '\0');
  size_t used = 0;
  if (archive_write_open_memory(a, bytes.data(), bytes.size(), &used) != ARCHIVE_OK)
    throw std::runtime_error(archive_error_string(a));
  for (const TarEntry& e : entries) {
    struct archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.name.c_str());
    archive_entry_set_mtime(entry, 1700000000, 0);
    switch (e.type) {
      case TarType::File:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.dataOrTarget.size()));
        break;
      case TarType::Directory:
        archive_entry_set_filetype(entry, AE_IFDIR);
        archive_entry_set_perm(entry, 0755);
        break;
      case TarType::Symlink:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_perm(entry, 0777);
        archive_entry_set_symlink(entry, e.dataOrTarget.c_str());
        break;
      case TarType::Hardlink:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_hardlink(entry, e.dataOrTarget.c_str());
        break;
      case TarType::Fifo:
        archive_entry_set_filetype(entry, AE_IFIFO);
        archive_entry_set_perm(entry, 0644);
        break;
    }
    archive_write_header(a, entry);
    if (e.type == TarType::File) archive_write_data(a, e.dataOrTarget.data(), e.dataOrTarget.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
  bytes.resize(used);
  WriteFile(path, bytes);
}

std::string ToolArchive(const std::string& name) { return std::string(QVU_TOOL_ARCHIVES) + "/" + name; }

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  out << data;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(Native(path), std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

std::vector<std::string> Tree(const fs::path& root) {
  std::vector<std::string> lines;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::string name = Utf8(it->path().lexically_relative(root));
    if (it->is_symlink()) {
      lines.push_back(name + " -> " + Utf8(fs::read_symlink(it->path())));
    } else if (it->is_directory()) {
      lines.push_back(name + "/");
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      char head[40];
      in.read(head, sizeof head);
      lines.push_back(name + ": " + std::string(head, static_cast<size_t>(in.gcount())));
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace qvu::test
