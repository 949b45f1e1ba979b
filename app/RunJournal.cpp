// In which order data and names reach the disk, and why a power cut at any instant is
// recovered.
//
// The journal is written ahead: every change to the program folder is announced by a record
// that is on the disk (written, then fdatasync) before the change begins, and every change is
// itself flushed (the file, and each folder whose names it changed) before the next record is
// written. So at any instant the journal on the disk announces every change that reached the
// disk, in order, and at most the one change after them that may or may not have.
//
// One run, in order:
//  1. tmp/ and NEWFILE/ are made; the journal is created in tmp/ and locked, the plan (each
//     candidate's target, new file, download and backup) written and flushed, then tmp/ and
//     the program folder, so that the journal's own name is durable. Only then do downloads
//     begin, so a journal without its complete plan means nothing was staged or changed.
//  2. A download reaches the disk under a temporary name and takes its name once flushed.
//  3. Per candidate: a file's old copy is renamed into tmp/ (record B first), and both folders
//     are flushed before anything can take its place; a folder entry's old folder is copied
//     into tmp/ as hard links, every folder of the copy flushed, before the record that
//     announces the merge (P), so the copy is complete on disk before the first name changes;
//     missing folder levels are made (record M) and their parents flushed; unpacking and the
//     revision stamp touch only NEWFILE/; the new file or folder moves into place (record P)
//     and is flushed with every folder the move changed.
//  4. A commit record once every candidate is in place. Then the backups are deleted and the
//     journal last; from the commit on the run stands.
//
// The next start reads the journal under its lock. Without a commit it undoes the recorded
// steps newest first. Each undo looks at the disk before it acts, so it is right whether the
// announced change happened or not, and when an earlier recovery was itself cut off: a backup
// still in tmp/ is renamed back over its target (one rename: once done, the backup is gone
// and a repeat does nothing); a file that did not exist before is removed; a merged folder is
// removed and its copy renamed back while the copy is there; a folder level the run made is
// removed when empty. A rename replaces a name in one step, so a power cut leaves the old
// name or the new one, never none. Only when every step went back are the staged downloads
// and then the journal removed. A torn last record is ignored: its flush had not returned,
// so its change had not begun; an intact record after a torn one cannot come from a power
// cut, and such a journal is refused rather than trusted.
#include "app/RunJournal.h"

#include <zlib.h>

#include <cstdio>
#include <limits>

#include "app/ServiceNames.h"
#include "support/Filesystem.h"
#include "support/LockedFile.h"

namespace qvu {

const char* const kJournalFileName = "run.journal";

namespace {

const char kMagic[] = "QueltaVersionUp run journal";
constexpr unsigned long kVersion = 1;
// Far above any real run (a few hundred bytes per candidate); a larger file is not ours.
constexpr size_t kMaxJournalSize = 64u << 20;

// Fields are separated by tabs and records by line ends; names may hold either.
std::string Escape(const std::string& field) {
  std::string out;
  for (char c : field) {
    if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& field, std::string& out) {
  out.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return false;
    int hi = HexDigit(field[i + 1]), lo = HexDigit(field[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

std::string Checksum(const std::string& body) {
  unsigned long crc = crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08lx", crc & 0xffffffffUL);
  return buf;
}

std::string Record(const std::vector<std::string>& fields) {
  std::string body;
  for (size_t i = 0; i < fields.size(); ++i) body += (i ? "\t" : "") + Escape(fields[i]);
  return body + "\t" + Checksum(body) + "\n";
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (true) {
    size_t tab = text.find('\t', pos);
    parts.push_back(text.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
    if (tab == std::string::npos) return parts;
    pos = tab + 1;
  }
}

// The fields of one whole line (without its line end) when its checksum holds.
bool IntactFields(const std::string& line, std::vector<std::string>& fields) {
  size_t tab = line.rfind('\t');
  if (tab == std::string::npos || line.size() - tab - 1 != 8) return false;
  std::string body = line.substr(0, tab);
  if (line.compare(tab + 1, 8, Checksum(body)) != 0) return false;
  fields.clear();
  for (const std::string& raw : Split(body)) {
    std::string field;
    if (!Unescape(raw, field)) return false;
    fields.push_back(field);
  }
  return true;
}

bool Number(const std::string& text, unsigned long max, unsigned long& value) {
  if (text.empty() || text.size() > 10) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value <= max;
}

bool Flag(const std::string& text, bool& value) {
  if (text != "0" && text != "1") return false;
  value = text == "1";
  return true;
}

bool ValidEntry(const JournalEntry& e) {
  return !e.target.empty() && IsConfinedName(e.target) && IsInsideWorkFolder(e.newFile, kDownloadFolderName) &&
         IsInsideWorkFolder(e.download, kDownloadFolderName) && IsInsideWorkFolder(e.backup, kBackupFolderName);
}

bool ValidStep(const JournalStep& s, const JournalContent& run) {
  switch (s.kind) {
    case JournalStep::Kind::Folder:
      return !s.folder.empty() && IsConfinedName(s.folder);
    case JournalStep::Kind::Backup:
      return s.entry < run.entries.size() && run.entries[s.entry].kind == JournalEntry::Kind::File;
    case JournalStep::Kind::Place:
      return s.entry < run.entries.size() && run.entries[s.entry].kind != JournalEntry::Kind::Staged;
  }
  return false;
}

// Adds one intact record to the content; false when it does not belong where it stands.
bool Apply(const std::vector<std::string>& f, JournalContent& run) {
  if (f.empty() || f[0].size() != 1 || run.committed) return false;
  const char type = f[0][0];
  if (type == 'C') {
    if (f.size() != 6 || f[1].size() != 1 || !run.steps.empty()) return false;
    JournalEntry e;
    e.kind = static_cast<JournalEntry::Kind>(f[1][0]);
    if (e.kind != JournalEntry::Kind::File && e.kind != JournalEntry::Kind::Folder &&
        e.kind != JournalEntry::Kind::Staged)
      return false;
    e.target = f[2];
    e.newFile = f[3];
    e.download = f[4];
    e.backup = f[5];
    if (!ValidEntry(e)) return false;
    run.entries.push_back(e);
    return true;
  }
  JournalStep s;
  unsigned long index = 0;
  if (type == 'M' && f.size() == 2) {
    s.kind = JournalStep::Kind::Folder;
    s.folder = f[1];
  } else if ((type == 'B' || type == 'P') && f.size() == 3 &&
             Number(f[1], std::numeric_limits<uint32_t>::max(), index) && Flag(f[2], s.existed)) {
    s.kind = type == 'B' ? JournalStep::Kind::Backup : JournalStep::Kind::Place;
    s.entry = index;
  } else if (type == 'E' && f.size() == 1) {
    run.committed = true;
    return true;
  } else {
    return false;
  }
  if (!ValidStep(s, run)) return false;
  run.steps.push_back(s);
  return true;
}

}  // namespace

std::string FormatJournalStart(const JournalContent& plan) {
  std::string text = Record({kMagic, std::to_string(kVersion), std::to_string(plan.processId)});
  for (const JournalEntry& e : plan.entries)
    text += Record({"C", std::string(1, static_cast<char>(e.kind)), e.target, e.newFile, e.download, e.backup});
  return text;
}

std::string FormatJournalStep(const JournalStep& step) {
  if (step.kind == JournalStep::Kind::Folder) return Record({"M", step.folder});
  return Record({std::string(1, static_cast<char>(step.kind)), std::to_string(step.entry), step.existed ? "1" : "0"});
}

std::string FormatJournalCommit() { return Record({"E"}); }

JournalRead ParseJournal(const std::string& bytes, JournalContent& out) {
  out = JournalContent{};
  size_t end = bytes.find('\n');
  if (end == std::string::npos) return JournalRead::Ok;  // the header never reached the disk

  // The version is read before the checksum: a newer format may check its lines otherwise.
  const std::string header = bytes.substr(0, end);
  std::vector<std::string> raw = Split(header);
  unsigned long version = 0, pid = 0;
  if (raw.size() < 2 || raw[0] != kMagic || !Number(raw[1], std::numeric_limits<uint32_t>::max(), version))
    return JournalRead::Unreadable;
  if (version > kVersion) return JournalRead::Newer;
  std::vector<std::string> fields;
  if (version != kVersion || !IntactFields(header, fields) || fields.size() != 3 ||
      !Number(fields[2], std::numeric_limits<uint32_t>::max(), pid))
    return JournalRead::Unreadable;
  out.processId = static_cast<uint32_t>(pid);

  bool torn = false;
  for (size_t pos = end + 1; pos < bytes.size();) {
    size_t next = bytes.find('\n', pos);
    if (next == std::string::npos) break;  // a last record without its line end
    std::string line = bytes.substr(pos, next - pos);
    pos = next + 1;
    if (!IntactFields(line, fields)) {
      torn = true;
      continue;
    }
    if (torn || !Apply(fields, out)) return JournalRead::Unreadable;
  }
  return JournalRead::Ok;
}

RunJournal::RunJournal(std::unique_ptr<LockedFile> file, std::string workFolder, JournalContent content)
    : file_(std::move(file)), workFolder_(std::move(workFolder)), content_(std::move(content)) {}

RunJournal::~RunJournal() = default;

std::string RunJournal::path() const { return workFolder_ + kJournalFileName; }

RunJournal::Open RunJournal::LockAndRead(const std::string& workFolder, std::unique_ptr<LockedFile>& file,
                                         std::string& bytes) {
  switch (LockedFile::Acquire(workFolder + kJournalFileName, file)) {
    case LockedFile::Status::Held:
      return file->ReadAll(bytes, kMaxJournalSize) ? Open::Held : Open::Unreadable;
    case LockedFile::Status::Busy:
      return Open::Busy;
    case LockedFile::Status::Failed:
      break;
  }
  return Open::Failed;
}

RunJournal::Open RunJournal::Begin(const std::string& workFolder, const std::string& programFolder,
                                   const JournalContent& plan, std::unique_ptr<RunJournal>& journal) {
  journal.reset();
  // What cannot be read back would stop every later start: check the plan as the reader will.
  const std::string text = FormatJournalStart(plan);
  JournalContent check;
  if (ParseJournal(text, check) != JournalRead::Ok || check.entries.size() != plan.entries.size())
    return Open::Failed;

  std::unique_ptr<LockedFile> file;
  std::string existing;
  const Open locked = LockAndRead(workFolder, file, existing);
  if (locked != Open::Held) return locked == Open::Busy ? Open::Busy : Open::Failed;
  // Another copy's interrupted run, left since this one started: the next start takes it
  // back, and it must not be written over.
  if (!existing.empty()) return Open::Busy;
  if (!file->Append(text) || !FlushFolder(workFolder) || !FlushFolder(programFolder)) {
    file->Remove();
    return Open::Failed;
  }
  journal.reset(new RunJournal(std::move(file), workFolder, plan));
  return Open::Held;
}

RunJournal::Open RunJournal::Resume(const std::string& workFolder, std::unique_ptr<RunJournal>& journal) {
  journal.reset();
  std::unique_ptr<LockedFile> file;
  std::string bytes;
  const Open locked = LockAndRead(workFolder, file, bytes);
  if (locked != Open::Held) return locked;
  JournalContent content;
  switch (ParseJournal(bytes, content)) {
    case JournalRead::Ok:
      break;
    case JournalRead::Newer:
      return Open::Newer;
    case JournalRead::Unreadable:
      return Open::Unreadable;
  }
  journal.reset(new RunJournal(std::move(file), workFolder, std::move(content)));
  return Open::Held;
}

bool RunJournal::Record(const std::vector<JournalStep>& steps) {
  std::string text;
  for (const JournalStep& s : steps) {
    if (!ValidStep(s, content_)) return false;
    text += FormatJournalStep(s);
  }
  if (!file_->Append(text)) return false;
  content_.steps.insert(content_.steps.end(), steps.begin(), steps.end());
  return true;
}

bool RunJournal::Commit() {
  content_.committed = file_->Append(FormatJournalCommit()) || Remove();
  return content_.committed;
}

bool RunJournal::Remove() { return file_->Remove() && FlushFolder(workFolder_); }

}  // namespace qvu
