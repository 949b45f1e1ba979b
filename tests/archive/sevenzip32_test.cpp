// The archiver library as the program loads it: the built 7-ZIP32.DLL, loaded by its path.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "archive/LibraryLoader.h"
#include "archive/sevenzip32/SevenZip32.h"
#include "tests/archive/ArchiveFixtures.h"

namespace qvu::test {
namespace {

struct Outcome {
  int code;
  std::string output;
};

using SevenZipFunction = int(SEVENZIP32_CALL*)(void*, const char*, char*, unsigned long);

SevenZipFunction Library() {
  static void* handle = LoadLibraryAt(QVU_SEVENZIP32_PATH);
  static auto function = handle != nullptr ? reinterpret_cast<SevenZipFunction>(FindEntryPoint(handle, "SevenZip")) : nullptr;
  return function;
}

// The command line goes to the library in the system's ANSI code page.
Outcome RunCommand(const std::string& commandLine) {
  char output[512];
  std::memset(output, 'Z', sizeof output);
  int code = Library()(nullptr, ToAnsi(commandLine).c_str(), output, sizeof output);
  return {code, output};
}

std::string Extract(const std::string& archive, const std::string& folder, const std::string& switches = "-aoa") {
  return "x \"" + archive + "\" -o\"" + folder + "\" -hide " + switches;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

TEST(SevenZip32, ExportsTheTwoEntryPoints) {
  ASSERT_NE(Library(), nullptr);
  EXPECT_EQ(ExportedNames(QVU_SEVENZIP32_PATH), (std::vector<std::string>{"SevenZip", "SevenZipGetRunning"}));
}

TEST(SevenZip32, ExtractsArchivesOfRealToolsWithFullPaths) {
  ScratchDir dir;
  const std::vector<std::string> want = {"a/", "a/b/", "a/b/c.txt: deep", "top.txt: top",
                                         "日本語/", "日本語/ファイル.txt: hello", "日本語/空/"};
  std::vector<std::string> archives = {"info.zip", "gnu.tar.gz"};
#ifndef _WIN32
  archives.push_back("p7zip.7z");  // LZMA2: the Windows library is built with zlib only
#endif
  for (const std::string& archive : archives) {
    std::string out = dir / (archive + ".out");
    Outcome r = RunCommand(Extract(ToolArchive(archive), out));
    EXPECT_EQ(r.code, SEVENZIP_OK) << archive << ": " << r.output;
    EXPECT_EQ(Tree(Native(out)), want) << archive;
  }
}

TEST(SevenZip32, ReadsNamesWithoutTheUtf8FlagAsCp932) {
  ScratchDir dir;
  // "ソ" and "表" end in 0x5C in CP932, the byte of a backslash.
  WriteZip(dir / "sjis.zip", {{ToCp932("ソフト/表.txt"), "sjis"},
                              {ToCp932("フォルダ\\中.txt"), "backslash"},
                              {ToCp932("空のフォルダ/"), ""},
                              {"ユニコード/名前.txt", "flagged", true}});
  Outcome r = RunCommand(Extract(dir / "sjis.zip", dir / "out"));
  EXPECT_EQ(r.code, SEVENZIP_OK) << r.output;
  EXPECT_EQ(Tree(dir.path() / "out"),
            (std::vector<std::string>{"ソフト/", "ソフト/表.txt: sjis", "フォルダ/", "フォルダ/中.txt: backslash",
                                      "ユニコード/", "ユニコード/名前.txt: flagged", "空のフォルダ/"}));
}

TEST(SevenZip32, OverwritesExistingFilesUnlessToldToSkipThem) {
  struct Case { const char* switches; const char* want; } cases[] = {
      {"-aoa", "new"}, {"", "new"}, {"-aos", "old"}};
  for (const Case& c : cases) {
    ScratchDir dir;
    WriteZip(dir / "a.zip", {{"sub/a.txt", "new"}, {"b.txt", "added"}});
    fs::create_directories(dir.path() / "out/sub");
    WriteFile(dir / "out/sub/a.txt", "old");
    fs::permissions(dir.path() / "out/sub/a.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Outcome r = RunCommand(Extract(dir / "a.zip", dir / "out", c.switches));
    EXPECT_EQ(r.code, SEVENZIP_OK) << c.switches << ": " << r.output;
    EXPECT_EQ(ReadFile(dir / "out/sub/a.txt"), c.want) << c.switches;
    EXPECT_EQ(ReadFile(dir / "out/b.txt"), "added") << c.switches;
  }
}

TEST(SevenZip32, AcceptsTheCommandLanguageAndRefusesAnythingElse) {
  ScratchDir dir;
  WriteZip(dir / "a.zip", {{"top.txt", "top"}});
  struct Case { const char* line; int want; } cases[] = {
      {"x \"{A}\"  -o\"{D}/\" -hide -aoa ", SEVENZIP_OK},
      {"X \"{A}\" -O\"{D}\\\"", SEVENZIP_OK},  // folder ending with a backslash
      {"-aoa -hide -o\"{D}\" x \"{A}\"", SEVENZIP_OK},
      {"\tx\t{A}\t-o{D}\t", SEVENZIP_OK},
      {"x \"{A}\" -y -r- -o{D}", SEVENZIP_OK},
      {"x \"{A}\" -o\"{D}/new/deeper\"", SEVENZIP_OK},  // missing folders are made
      {"", SEVENZIP_BAD_COMMAND},
      {"   ", SEVENZIP_BAD_COMMAND},
      {"e \"{A}\" -o\"{D}\"", SEVENZIP_BAD_COMMAND},
      {"x -o\"{D}\" -hide", SEVENZIP_BAD_COMMAND},
      {"x \"\" -o\"{D}\"", SEVENZIP_BAD_COMMAND},
      {"x \"{A} -o\"{D}\"", SEVENZIP_BAD_COMMAND},
      {"x \"{A}\" -o\"{D}", SEVENZIP_BAD_COMMAND},
      {"x \"{A}\" -q -o\"{D}\"", SEVENZIP_BAD_COMMAND},
      {"x \"{A}\" -o", SEVENZIP_BAD_COMMAND},
      {"x \"{A}\" -o\"{D}\" -o\"{D}\"", SEVENZIP_BAD_COMMAND},
      {"x \"{A}\" top.txt -o\"{D}\"", SEVENZIP_BAD_COMMAND},
      {"x \"{A}\" -aou -o\"{D}\"", SEVENZIP_BAD_COMMAND},
      {"x \"{A}.missing\" -o\"{D}\"", SEVENZIP_OPEN_FAILED},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string out = dir / ("out" + std::to_string(n++));
    std::string line = Replace(Replace(c.line, "{A}", dir / "a.zip"), "{D}", out);
    Outcome r = RunCommand(line);
    EXPECT_EQ(r.code, c.want) << line << ": " << r.output;
    EXPECT_FALSE(r.output.empty()) << line;
    if (c.want == SEVENZIP_OK) {
      std::string folder = std::string(c.line).find("deeper") != std::string::npos ? out + "/new/deeper" : out;
      EXPECT_EQ(ReadFile(folder + "/top.txt"), "top") << line;
    } else {
      EXPECT_FALSE(fs::exists(out + "/top.txt")) << line;
    }
  }
}

TEST(SevenZip32, FailsOnDamagedOrUnsupportedArchives) {
  ScratchDir dir;
  WriteZip(dir / "good.zip", {{"first.txt", "0123456789abcdef"}, {"second.txt", "more"}});
  std::string good = ReadFile(dir / "good.zip");
  std::string badCrc = good;
  badCrc[30 + 9 + 3] ^= 0x20;  // a byte of first.txt's data
  WriteFile(dir / "badcrc.zip", badCrc);
  WriteFile(dir / "truncated.zip", good.substr(0, 50));
  WriteFile(dir / "garbage.zip", std::string(600, '\x5A'));
  WriteFile(dir / "empty.zip", "");
  WriteTar(dir / "fifo.tar", {{"pipe", TarType::Fifo, ""}});
  // A file whose data failed is not left behind as if it were whole.
  struct Case { const char* archive; int want; } cases[] = {
      {"badcrc.zip", SEVENZIP_CORRUPT}, {"truncated.zip", SEVENZIP_CORRUPT},
      {"garbage.zip", SEVENZIP_OPEN_FAILED}, {"empty.zip", SEVENZIP_OPEN_FAILED},
      {"fifo.tar", SEVENZIP_UNSAFE_ENTRY}};
  for (const Case& c : cases) {
    std::string out = dir / (std::string(c.archive) + ".out");
    Outcome r = RunCommand(Extract(dir / c.archive, out));
    EXPECT_EQ(r.code, c.want) << c.archive << ": " << r.output;
    EXPECT_EQ(Tree(out), std::vector<std::string>{}) << c.archive;
  }
}

TEST(SevenZip32, DecryptsOnlyWithTheRightPassword) {
  ScratchDir dir;
  struct Case { const char* switches; int want; } cases[] = {
      {"", SEVENZIP_CORRUPT}, {"-pwrong", SEVENZIP_CORRUPT}, {"-pright", SEVENZIP_OK}};
  for (const Case& c : cases) {
    std::string out = dir / ("out" + std::string(c.switches));
    Outcome r = RunCommand(Extract(ToolArchive("enc.zip"), out, c.switches));
    EXPECT_EQ(r.code, c.want) << c.switches << ": " << r.output;
    EXPECT_EQ(ReadFile(out + "/secret.txt"), c.want == SEVENZIP_OK ? "hidden" : "") << c.switches;
  }
}

// Entries that would land outside the output folder, written with the sandbox's own path
// where the case needs an absolute one.
struct SlipCase {
  const char* what;
  std::function<void(const std::string& archive, const fs::path& sandbox)> make;
};

TEST(SevenZip32, RefusesEveryEntryThatWouldLandOutsideTheFolder) {
  const SlipCase cases[] = {
      {"dot-dot name", [](auto& a, auto&) { WriteZip(a, {{"ok.txt", "ok"}, {"../evil.txt", "evil"}}); }},
      {"dot-dot with backslashes", [](auto& a, auto&) { WriteZip(a, {{"a\\..\\..\\evil.txt", "evil"}}); }},
      {"absolute name", [](auto& a, auto& s) { WriteZip(a, {{Utf8(s / "outside/evil.txt"), "evil"}}); }},
      {"drive name", [](auto& a, auto&) { WriteZip(a, {{"C:\\evil.txt", "evil"}}); }},
      {"zip link up", [](auto& a, auto&) {
         WriteZip(a, {{"up", "..", false, 0120777}, {"up/outside/evil.txt", "evil"}});
       }},
      {"tar link out", [](auto& a, auto&) {
         WriteTar(a, {{"up", TarType::Symlink, "../outside"}, {"up/evil.txt", TarType::File, "evil"}});
       }},
      {"absolute link", [](auto& a, auto& s) {
         WriteTar(a, {{"abs", TarType::Symlink, Utf8(s / "outside")}, {"abs/evil.txt", TarType::File, "evil"}});
       }},
      {"dot-dot after a link", [](auto& a, auto&) {
         WriteTar(a, {{"here", TarType::Symlink, "."}, {"esc", TarType::Symlink, "here/../outside"},
                      {"esc/evil.txt", TarType::File, "evil"}});
       }},
      {"entry through a link of the archive", [](auto& a, auto&) {
         WriteTar(a, {{"sub", TarType::Directory, ""}, {"in", TarType::Symlink, "sub"},
                      {"in/evil.txt", TarType::File, "evil"}});
       }},
#ifndef _WIN32  // Wine cannot make links
      {"entry through a link already there", [](auto& a, auto& s) {
         fs::create_directory_symlink(s / "outside", s / "out/pre");
         WriteZip(a, {{"pre/evil.txt", "evil"}});
       }},
#endif
      {"hard link out", [](auto& a, auto&) {
         WriteTar(a, {{"h", TarType::Hardlink, "../outside/secret.txt"}});
       }},
      {"absolute hard link", [](auto& a, auto& s) {
         WriteTar(a, {{"h", TarType::Hardlink, Utf8(s / "outside/secret.txt")}});
       }},
  };
  for (const SlipCase& c : cases) {
    ScratchDir dir;
    fs::path sandbox = dir.path() / "sandbox";
    fs::create_directories(sandbox / "out");
    fs::create_directories(sandbox / "outside");
    WriteFile(Utf8(sandbox / "outside/secret.txt"), "secret");
    c.make(dir / "slip.archive", sandbox);
    Outcome r = RunCommand(Extract(dir / "slip.archive", Utf8(sandbox / "out")));
    EXPECT_EQ(r.code, SEVENZIP_UNSAFE_ENTRY) << c.what << ": " << r.output;
    EXPECT_FALSE(r.output.empty()) << c.what;
    EXPECT_EQ(Tree(sandbox / "outside"), std::vector<std::string>{"secret.txt: secret"}) << c.what;
    EXPECT_FALSE(fs::exists(sandbox / "evil.txt")) << c.what;
    EXPECT_EQ(fs::hard_link_count(sandbox / "outside/secret.txt"), 1u) << c.what;
  }
}

#ifdef _WIN32
// Names Windows would turn into other names or into devices: a trailing dot or blank is
// dropped (libarchive's writer then loops for ever), a colon opens a data stream of another
// file, NUL and COM1 are devices.
TEST(SevenZip32, RefusesNamesWindowsWouldChange) {
  for (const char* name : {"a/b./c.txt", "trailing ", "x.txt:stream", "NUL.txt", "sub/com1", "a<b", "tab\there"}) {
    ScratchDir dir;
    WriteZip(dir / "names.zip", {{"first.txt", "1"}, {name, "x"}});
    Outcome r = RunCommand(Extract(dir / "names.zip", dir / "out"));
    EXPECT_EQ(r.code, SEVENZIP_UNSAFE_ENTRY) << name << ": " << r.output;
    EXPECT_EQ(Tree(dir.path() / "out"), std::vector<std::string>{"first.txt: 1"}) << name;
  }
}

// Only privileged users may make symbolic links on Windows: the library refuses them there
// instead of leaving them out. Hard links are made.
TEST(SevenZip32, RefusesSymbolicLinksOnWindows) {
  ScratchDir dir;
  WriteTar(dir / "hard.tar", {{"lib/v1/x.so", TarType::File, "so"}, {"lib/copy.so", TarType::Hardlink, "lib/v1/x.so"}});
  Outcome r = RunCommand(Extract(dir / "hard.tar", dir / "hard"));
  EXPECT_EQ(r.code, SEVENZIP_OK) << r.output;
  EXPECT_EQ(Tree(dir.path() / "hard"), (std::vector<std::string>{"lib/", "lib/copy.so: so", "lib/v1/", "lib/v1/x.so: so"}));
  WriteTar(dir / "links.tar", {{"lib/v1/x.so", TarType::File, "so"}, {"lib/cur", TarType::Symlink, "v1"}});
  r = RunCommand(Extract(dir / "links.tar", dir / "out"));
  EXPECT_EQ(r.code, SEVENZIP_UNSAFE_ENTRY) << r.output;
  EXPECT_FALSE(fs::exists(dir.path() / "out/lib/cur"));
}
#else
TEST(SevenZip32, KeepsLinksThatStayInside) {
  ScratchDir dir;
  WriteTar(dir / "links.tar", {{"lib/v1/x.so", TarType::File, "so"},
                               {"lib/cur", TarType::Symlink, "v1"},
                               {"bin/x", TarType::Symlink, "../lib/cur/x.so"},
                               {"lib/copy.so", TarType::Hardlink, "lib/v1/x.so"}});
  Outcome r = RunCommand(Extract(dir / "links.tar", dir / "out"));
  EXPECT_EQ(r.code, SEVENZIP_OK) << r.output;
  EXPECT_EQ(Tree(dir.path() / "out"),
            (std::vector<std::string>{"bin/", "bin/x -> ../lib/cur/x.so", "lib/", "lib/copy.so: so",
                                      "lib/cur -> v1", "lib/v1/", "lib/v1/x.so: so"}));
  EXPECT_EQ(ReadFile(dir / "out/bin/x"), "so");
}
#endif

TEST(SevenZip32, OutputStaysWithinItsBufferAndIsTerminated) {
  ScratchDir dir;
  WriteZip(dir / "j.zip", {{"../日本語の長い名前.txt", "x"}});
  std::string line = Extract(dir / "j.zip", dir / "out");
  std::string full = RunCommand(line).output;
  ASSERT_GT(full.size(), 30u);
  for (unsigned long size : {1ul, 2ul, 20ul, 27ul, 28ul, 29ul, static_cast<unsigned long>(full.size() + 1)}) {
    char buffer[600];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(Library()(nullptr, ToAnsi(line).c_str(), buffer, size), SEVENZIP_UNSAFE_ENTRY);
    std::string got = buffer;
    EXPECT_LT(got.size(), size);
    EXPECT_EQ(buffer[size], 'Z') << size;
    EXPECT_EQ(full.compare(0, got.size(), got), 0) << size;
    // Cut at a character boundary, never inside a UTF-8 sequence.
    if (got.size() < full.size()) {
      EXPECT_NE(static_cast<unsigned char>(full[got.size()]) & 0xC0, 0x80) << size;
    }
  }
  EXPECT_NE(Library()(nullptr, ToAnsi(line).c_str(), nullptr, 0), SEVENZIP_OK);
  EXPECT_NE(Library()(nullptr, ToAnsi(line).c_str(), nullptr, 128), SEVENZIP_OK);
  char one = 'Z';
  EXPECT_EQ(Library()(nullptr, nullptr, &one, 1), SEVENZIP_BAD_COMMAND);
  EXPECT_EQ(one, '\0');
}

}  // namespace
}  // namespace qvu::test
