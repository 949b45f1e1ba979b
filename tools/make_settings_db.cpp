// make-settings-db OUT.mdb [--password PW | --no-password]
//
// Writes a new Access (Jet 4) database holding the settings table QUELTASYSTEM_TB, with the
// rows read from standard input: one row a line, the four fields SECTION, KEYNAME, KEYVAL
// and UPTIME separated by tabs. A field written as \N is Null; an empty UPTIME is Null too,
// any other UPTIME is "yyyy/MM/dd H:mm:ss" or "yyyy/MM/dd". Empty lines are skipped, a
// carriage return ending a line and a UTF-8 byte order mark opening the input are dropped.
// The database password is "plobk" unless --password names another or --no-password asks
// for none.
//
// Exit codes: 0 written; 2 bad arguments or input (nothing written); 1 the file could not be
// written (nothing left behind either: the file appears under its name only when complete).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "support/DateTime.h"
#include "tools/mdb_writer.h"

namespace {

using qvu::jet::Value;

constexpr int kExitWriteFailed = 1;
constexpr int kExitBadInput = 2;
const char kProgram[] = "make-settings-db";
const char kDefaultPassword[] = "plobk";
const char kUsage[] = "usage: make-settings-db OUT.mdb [--password PW | --no-password]";

struct Arguments {
  std::string out;
  std::string password = kDefaultPassword;
};

int Fail(int code, const std::string& message) {
  std::cerr << kProgram << ": " << message << "\n";
  return code;
}

// Empty on success, otherwise the complaint.
std::string ParseArguments(int argc, char** argv, Arguments& args) {
  bool passwordGiven = false;
  bool outGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--password" || a == "--no-password") {
      if (passwordGiven) return "give --password or --no-password once";
      passwordGiven = true;
      if (a == "--no-password") {
        args.password.clear();
      } else {
        if (i + 1 >= argc) return "--password needs a value";
        args.password = argv[++i];
        if (args.password.empty()) return "--password needs a value (use --no-password for none)";
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option " + a;
    } else {
      if (outGiven) return "only one output file may be named";
      outGiven = true;
      args.out = a;
    }
  }
  if (!outGiven || args.out.empty()) return "no output file named";
  return "";
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// Empty on success, otherwise the complaint about the input.
std::string ReadRows(std::istream& in, std::vector<std::vector<Value>>& rows) {
  static const char* const kTextColumns[] = {"SECTION", "KEYNAME", "KEYVAL"};
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 4)
      return where + "expected 4 tab-separated fields (SECTION, KEYNAME, KEYVAL, UPTIME), found " +
             std::to_string(fields.size());
    std::vector<Value> row(4);
    for (size_t i = 0; i < 3; ++i) {
      if (fields[i] == "\\N") continue;
      if (std::string problem = qvu::jet::TextProblem(fields[i], 255); !problem.empty())
        return where + kTextColumns[i] + " " + problem;
      row[i] = fields[i];
    }
    if (fields[3] != "\\N" && !fields[3].empty()) {
      qvu::TDateTime when;
      if (!qvu::TryTextToDateTime(fields[3], when))
        return where + "UPTIME \"" + fields[3] +
               "\" is not a date-time of the form yyyy/MM/dd H:mm:ss or yyyy/MM/dd";
      row[3] = when;
    }
    rows.push_back(std::move(row));
  }
  if (in.bad()) return "standard input could not be read";
  return "";
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes beside the target and renames, so that OUT is either the old file or the whole new
// one, never a part.
std::string WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return "cannot create a file beside " + path + ": " + std::strerror(errno);
  const mode_t mask = umask(0);
  umask(mask);
  bool ok = fchmod(fd, 0666 & ~mask) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    return "cannot write " + path + ": " + std::strerror(error);
  }
  return "";
}

int Run(int argc, char** argv) {
  Arguments args;
  if (std::string problem = ParseArguments(argc, argv, args); !problem.empty())
    return Fail(kExitBadInput, problem + "\n" + kUsage);

  qvu::jet::Table table;
  table.name = "QUELTASYSTEM_TB";
  using qvu::jet::ColumnType;
  table.columns = {{"SECTION", ColumnType::Text, 255},
                   {"KEYNAME", ColumnType::Text, 255},
                   {"KEYVAL", ColumnType::Text, 255},
                   {"UPTIME", ColumnType::DateTime}};
  if (std::string problem = ReadRows(std::cin, table.rows); !problem.empty())
    return Fail(kExitBadInput, problem);

  std::vector<uint8_t> bytes;
  try {
    bytes = qvu::jet::BuildDatabase({table}, args.password, qvu::Now());
  } catch (const qvu::jet::WriteError& e) {
    return Fail(kExitBadInput, e.what());
  }
  if (std::string problem = WriteFileAtomically(args.out, bytes); !problem.empty())
    return Fail(kExitWriteFailed, problem);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Fail(kExitWriteFailed, e.what());
  } catch (...) {
    return Fail(kExitWriteFailed, "unexpected failure");
  }
}
