#include "archive/sevenzip32/Extract.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive/sevenzip32/Disk.h"
#include "archive/sevenzip32/EntryNames.h"
#include "archive/sevenzip32/SevenZip32.h"

namespace sevenzip32 {
namespace {

std::vector<std::string> Segments(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(start, end - start);
    if (!segment.empty() && segment != ".") segments.push_back(std::move(segment));
    start = end + 1;
  }
  return segments;
}

bool IsDrivePrefix(const std::string& segment) {
  return segment.size() >= 2 && segment[1] == ':' &&
         ((segment[0] >= 'A' && segment[0] <= 'Z') || (segment[0] >= 'a' && segment[0] <= 'z'));
}

bool IsAbsolute(const std::string& path) { return !path.empty() && (path[0] == '/' || path[0] == '\\'); }

struct ReaderDeleter {
  void operator()(struct archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
  void operator()(struct archive* a) const { archive_write_free(a); }
};

std::string ErrorOf(struct archive* a, const char* fallback) {
  const char* text = archive_error_string(a);
  std::string error = text != nullptr && *text != '\0' ? text : fallback;
  std::replace_if(error.begin(), error.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
  while (!error.empty() && error.back() == ' ') error.pop_back();
  return error;
}

// Formats are listed one by one: the catch-all set includes mtree, whose entries may name
// files elsewhere on this machine to copy from, and external-program filters.
void SupportFormats(struct archive* a) {
  archive_read_support_format_zip(a);
  archive_read_support_format_7zip(a);
  archive_read_support_format_rar(a);
  archive_read_support_format_rar5(a);
  archive_read_support_format_tar(a);
  archive_read_support_format_cpio(a);
  archive_read_support_format_cab(a);
  archive_read_support_format_lha(a);
  archive_read_support_format_iso9660(a);
  archive_read_support_format_xar(a);
  archive_read_support_filter_gzip(a);
  archive_read_support_filter_bzip2(a);
  archive_read_support_filter_xz(a);
  archive_read_support_filter_lzma(a);
  archive_read_support_filter_zstd(a);
}

// Whether a folder on the way to the entry is a link, whoever made it: this archive, an
// earlier one or anything else that left it in the output folder.
bool ThroughLink(const std::string& root, const std::string& relative) {
  for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
    if (IsLink(root + relative.substr(0, slash))) return true;
  }
  return false;
}

class Extraction {
 public:
  Extraction(const Command& command, std::string& reason) : command_(command), reason_(reason) {}

  int Run() {
    if (!PrepareFolder(command_.outputFolder, root_, reason_)) return SEVENZIP_WRITE_FAILED;

    std::unique_ptr<struct archive, ReaderDeleter> reader(archive_read_new());
    std::unique_ptr<struct archive, WriterDeleter> writer(archive_write_disk_new());
    if (!reader || !writer) {
      reason_ = "out of memory";
      return SEVENZIP_INTERNAL;
    }
    SupportFormats(reader.get());
    if (command_.hasPassword) archive_read_add_passphrase(reader.get(), command_.password.c_str());
    // Our own names are absolute (the folder is joined to them), so the absolute-name
    // refusal of libarchive cannot be used; RelativeEntryPath makes that check first.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    if (OpenArchiveFile(reader.get(), command_.archive) < ARCHIVE_WARN) {
      reason_ = "cannot open the archive: " + ErrorOf(reader.get(), "unknown format");
      return SEVENZIP_OPEN_FAILED;
    }
    reader_ = reader.get();
    writer_ = writer.get();
    int result = ExtractEntries();
    // Closing the writer sets the times and modes of folders; it can fail too.
    if (archive_write_close(writer_) != ARCHIVE_OK && result == SEVENZIP_OK) {
      reason_ = ErrorOf(writer_, "cannot finish the output folder");
      result = SEVENZIP_WRITE_FAILED;
    }
    archive_read_close(reader_);
    // A file whose data failed is no copy of the packed one; closing the writer has even
    // stretched it to its declared size.
    if (!partial_.empty()) RemoveFile(partial_);
    return result;
  }

 private:
  int ExtractEntries() {
    while (true) {
      struct archive_entry* entry = nullptr;
      int r = archive_read_next_header(reader_, &entry);
      if (r == ARCHIVE_EOF) return SEVENZIP_OK;
      // A warning here is a name that did not convert; the name is kept as it stands.
      if (r < ARCHIVE_WARN || entry == nullptr) {
        reason_ = ErrorOf(reader_, "damaged archive");
        return SEVENZIP_CORRUPT;
      }
      int result = ExtractEntry(entry);
      if (result != SEVENZIP_OK) return result;
    }
  }

  int Unsafe(const char* what, const char* name) {
    reason_ = std::string(what) + ": " + name;
    return SEVENZIP_UNSAFE_ENTRY;
  }

  int ExtractEntry(struct archive_entry* entry) {
    std::string decoded;
    if (!ReadEntryName(entry, EntryName::Path, decoded)) {
      reason_ = "entry without a name";
      return SEVENZIP_CORRUPT;
    }
    const char* name = decoded.c_str();
    std::string relative;
    if (!RelativeEntryPath(decoded, relative)) return Unsafe("entry outside the folder", name);
    if (relative.empty()) return SkipData();  // the folder itself
    for (const std::string& part : Segments(relative))
      if (!NameAllowed(part)) return Unsafe("name this system would change", name);
    if (ThroughLink(root_, relative)) return Unsafe("entry through a link", name);

    std::string hardlinkName, symlinkName;
    bool hardlink = ReadEntryName(entry, EntryName::HardLink, hardlinkName);
    unsigned type = archive_entry_filetype(entry);
    if (hardlink) {
      // A hard link may only join files this archive has just written; a name that only
      // resolves through links could reach a file outside.
      std::string target;
      if (!RelativeEntryPath(hardlinkName, target) || files_.count(target) == 0)
        return Unsafe("hard link outside the extracted files", name);
      SetEntryName(entry, EntryName::HardLink, root_ + target);
    } else if (type == AE_IFLNK) {
      if (!CanMakeSymbolicLinks()) return Unsafe("symbolic link", name);
      std::string normalised;
      if (!ReadEntryName(entry, EntryName::SymLink, symlinkName) ||
          !LinkTargetStaysInside(relative, symlinkName, normalised))
        return Unsafe("link pointing outside the folder", name);
      SetEntryName(entry, EntryName::SymLink, normalised);
    } else if (type == 0) {
      archive_entry_set_filetype(entry, AE_IFREG);
      type = AE_IFREG;
    } else if (type != AE_IFREG && type != AE_IFDIR) {
      return Unsafe("device, pipe or socket entry", name);
    }
    // Whatever modes the archive carries, the owner must be able to use what is extracted.
    if (!hardlink && type != AE_IFLNK)
      archive_entry_set_perm(entry, (archive_entry_perm(entry) & 07777) | (type == AE_IFDIR ? 0700 : 0600));

    std::string full = root_ + relative;
    if (type != AE_IFDIR && Exists(full)) {
      if (command_.overwrite == Overwrite::Skip) return SkipData();
      AllowReplacing(full);
    }
    SetEntryName(entry, EntryName::Path, full);

    int r = archive_write_header(writer_, entry);
    if (r < ARCHIVE_WARN) {
      reason_ = ErrorOf(writer_, "cannot write") + ": " + relative;
      return SEVENZIP_WRITE_FAILED;
    }
    if (type == AE_IFREG) partial_ = full;
    if (archive_entry_size_is_set(entry) == 0 || archive_entry_size(entry) > 0) {
      int result = CopyData(relative);
      if (result != SEVENZIP_OK) return result;
    }
    if (archive_write_finish_entry(writer_) < ARCHIVE_WARN) {
      reason_ = ErrorOf(writer_, "cannot write") + ": " + relative;
      return SEVENZIP_WRITE_FAILED;
    }
    partial_.clear();
    if (type == AE_IFREG || hardlink) {
      files_.insert(relative);
    } else {
      files_.erase(relative);
    }
    return SEVENZIP_OK;
  }

  int CopyData(const std::string& relative) {
    while (true) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      int r = archive_read_data_block(reader_, &block, &size, &offset);
      if (r == ARCHIVE_EOF) return SEVENZIP_OK;
      // Data warnings are checksum mismatches: the file is not what was packed.
      if (r != ARCHIVE_OK) {
        reason_ = ErrorOf(reader_, "damaged data") + ": " + relative;
        return SEVENZIP_CORRUPT;
      }
      if (archive_write_data_block(writer_, block, size, offset) < ARCHIVE_OK) {
        reason_ = ErrorOf(writer_, "cannot write") + ": " + relative;
        return SEVENZIP_WRITE_FAILED;
      }
    }
  }

  int SkipData() {
    if (archive_read_data_skip(reader_) < ARCHIVE_WARN) {
      reason_ = ErrorOf(reader_, "damaged archive");
      return SEVENZIP_CORRUPT;
    }
    return SEVENZIP_OK;
  }

  const Command& command_;
  std::string& reason_;
  std::string root_;     // the resolved output folder, ending with "/"
  std::string partial_;  // the file being written until its entry is complete
  struct archive* reader_ = nullptr;
  struct archive* writer_ = nullptr;
  std::set<std::string> files_;     // relative paths of the regular files made so far
};

}  // namespace

bool RelativeEntryPath(const std::string& name, std::string& relative) {
  relative.clear();
  if (IsAbsolute(name)) return false;
  std::vector<std::string> segments = Segments(name);
  for (size_t i = 0; i < segments.size(); ++i) {
    if (segments[i] == ".." || (i == 0 && IsDrivePrefix(segments[i]))) return false;
    if (i > 0) relative += '/';
    relative += segments[i];
  }
  return true;
}

bool LinkTargetStaysInside(const std::string& link, const std::string& target, std::string& normalised) {
  normalised = target;
  std::replace(normalised.begin(), normalised.end(), '\\', '/');
  if (normalised.empty() || IsAbsolute(normalised)) return false;
  // Leading ".." steps climb real folders (nothing is extracted through a link), so they
  // resolve as written; a ".." after a name could climb out of a linked folder instead.
  long depth = static_cast<long>(Segments(link).size()) - 1;
  bool descended = false;
  for (const std::string& segment : Segments(normalised)) {
    if (segment == "..") {
      if (descended || --depth < 0) return false;
    } else {
      if (!descended && IsDrivePrefix(segment)) return false;
      descended = true;
    }
  }
  return true;
}

int Extract(const Command& command, std::string& reason) {
  ArchiveTextScope texts;
  Extraction extraction(command, reason);
  return extraction.Run();
}

}  // namespace sevenzip32
