#include "ui/TerminalView.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace qvu {
namespace {

// Presses as the main window would see them; a handler may close the view as TMainFrm does.
struct Events : ViewEvents {
  View* view = nullptr;
  std::vector<std::string> presses;
  std::vector<std::string> appliedDuringUpdate;
  bool updateFails = false;  // a failed run leaves the window open
  void CloseClicked() override {
    presses.push_back("close");
    view->Close();
  }
  void UpdateClicked() override {
    presses.push_back("update");
    for (const std::string& line : appliedDuringUpdate) view->ListBox2Add(line);
    if (!updateFails) view->Close();
  }
  bool CanClose() override { return true; }
};

struct Terminal {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  TerminalView view;
  Events events;
  explicit Terminal(const std::string& input, bool drawProgress = false)
      : in(input), view(in, out, err, drawProgress) {
    events.view = &view;
    view.SetEvents(&events);
  }
  void Candidates(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) view.ListBox1Add(line);
    view.SetUpdateButtonVisible(!lines.empty());
  }
};

const std::string kListed = "app.exe Ver 1.2.0.5\nデータ.mdb Ver 2\n";

TEST(TerminalView, AnswerDecidesBetweenUpdateAndClose) {
  struct Case {
    std::string input;
    std::string press;
    bool inputEnded;  // no line could be read
  };
  const Case cases[] = {
      {"y\n", "update", false},   {"Y\n", "update", false},  {" \ty  \n", "update", false},
      {"y\r\n", "update", false}, {"y", "update", false},    {"yes\n", "close", false},
      {"n\n", "close", false},    {"\n", "close", false},    {"yy\n", "close", false},
      {"", "close", true},        {"\ny\n", "close", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("input: \"" + c.input + "\"");
    Terminal t(c.input);
    t.Candidates({"app.exe Ver 1.2.0.5", "データ.mdb Ver 2"});
    t.view.Run();
    EXPECT_EQ(t.events.presses, std::vector<std::string>{c.press});
    EXPECT_EQ(t.out.str(), kListed + kTerminalUpdateQuestion + (c.inputEnded ? "\n" : ""));
    EXPECT_EQ(t.err.str(), "");
  }
}

TEST(TerminalView, ClosesWithoutAskingWhenNothingCanBeUpdated) {
  Terminal empty("y\n");
  empty.Candidates({});
  empty.view.Run();
  EXPECT_EQ(empty.events.presses, std::vector<std::string>{"close"});
  EXPECT_EQ(empty.out.str(), "更新するファイルはありません\n") << "the empty list said in words";

  // The window would offer no update button, so there is nothing to say yes to.
  Terminal noButton("y\n");
  noButton.view.ListBox1Add("app.exe Ver 1.2.0.5");
  noButton.view.Run();
  EXPECT_EQ(noButton.events.presses, std::vector<std::string>{"close"});
  EXPECT_EQ(noButton.out.str(), "app.exe Ver 1.2.0.5\n");
}

TEST(TerminalView, CloseBeforeRunEndsAtOnce) {
  Terminal t("y\n");
  t.Candidates({"app.exe Ver 1.2.0.5"});
  t.view.Close();
  t.view.Run();
  EXPECT_TRUE(t.events.presses.empty());
  EXPECT_EQ(t.out.str(), "");
}

TEST(TerminalView, AppliedFilesArePrintedAsTheyAreAdded) {
  Terminal t("y\n");
  t.Candidates({"a.exe Ver 2", "b.dll Ver 3"});
  t.events.appliedDuringUpdate = {"a.exe Ver 2", "b.dll Ver 3"};
  t.view.Run();
  EXPECT_EQ(t.out.str(),
            std::string("a.exe Ver 2\nb.dll Ver 3\n") + kTerminalUpdateQuestion +
                "a.exe Ver 2\nb.dll Ver 3\n");
  EXPECT_EQ(t.view.ListBox2Count(), 2);
}

TEST(TerminalView, FailedRunIsClosedForTheUser) {
  Terminal t("y\n");
  t.Candidates({"a.exe Ver 2"});
  t.events.updateFails = true;
  t.view.Run();
  EXPECT_EQ(t.events.presses, (std::vector<std::string>{"update", "close"}));
}

TEST(TerminalView, DialogsGoToTheirStreams) {
  Terminal t("");
  t.view.ShowError("接続情報の取得に失敗しました(SERVER.MDB)");
  t.view.ShowInfo("1件中 1件更新しました");
  EXPECT_EQ(t.err.str(), "接続情報の取得に失敗しました(SERVER.MDB)\n");
  EXPECT_EQ(t.out.str(), "1件中 1件更新しました\n");

  std::ostringstream err;
  ShowTerminalAlreadyRunning("既に起動しています", err);
  EXPECT_EQ(err.str(), "既に起動しています\n");
}

TEST(TerminalView, TextsBecomeOneHarmlessLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"a.exe Ver 1", "a.exe Ver 1"},
      {"日本語のファイル.txt", "日本語のファイル.txt"},
      {"two\nlines\r\nand\ttab", "two lines  and tab"},
      {"\x1b[31mred\x1b[0m", "?[31mred?[0m"},
      {std::string("nul\0bell\a", 9), "nul?bell?"},
      {"del\x7f", "del?"},
      {"c1\xc2\x9b" "2J", "c1?2J"},
      {"\xc2\xa9 kept", "\xc2\xa9 kept"},
  };
  for (const auto& [text, line] : cases) {
    EXPECT_EQ(TerminalLine(text), line);
  }
  Terminal t("");
  t.view.ShowError("bad\x1b]0;title\a");
  EXPECT_EQ(t.err.str(), "bad?]0;title?\n");
}

TEST(TerminalView, ProgressBarOnlyWhenAskedForAndEndedBeforeOtherOutput) {
  Terminal quiet("");
  quiet.view.SetProgressMax(100);
  quiet.view.SetProgressPosition(50);
  EXPECT_EQ(quiet.err.str(), "");

  Terminal t("", /*drawProgress=*/true);
  t.view.SetProgressMax(200);     // 0%
  t.view.SetProgressPosition(100);
  t.view.SetProgressPosition(101);  // still 50%: not drawn again
  t.view.SetProgressPosition(400);  // past the end counts as done
  t.view.ShowError("e");
  const std::string empty(30, '-');
  const std::string half = std::string(15, '#') + std::string(15, '-');
  const std::string full(30, '#');
  EXPECT_EQ(t.err.str(), "\r[" + empty + "]   0%\r[" + half + "]  50%\r[" + full + "] 100%\ne\n");
}

TEST(TerminalView, ProgressWithoutMaximumOrWithHugeFiguresStaysInRange) {
  Terminal t("", true);
  t.view.SetProgressMax(0);  // no size known: an empty bar
  t.view.SetProgressPosition(10);
  t.view.SetProgressMax(-1);
  t.view.SetProgressPosition(INT64_MAX);
  t.view.SetProgressMax(INT64_MAX);  // figures near the 64-bit limit do not overflow
  t.view.SetProgressPosition(INT64_MAX / 4);
  t.view.ShowInfo("");
  const std::string quarter = std::string(7, '#') + std::string(23, '-');
  EXPECT_EQ(t.err.str(), "\r[" + std::string(30, '-') + "]   0%\r[" + std::string(30, '#') +
                             "] 100%\r[" + quarter + "]  25%\n");
}

}  // namespace
}  // namespace qvu
