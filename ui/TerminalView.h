// The view without a display: the same operations drive it, but the candidates, the files
// applied and the dialogs are lines on the standard streams, and the one choice the user
// has (update or close) is a line read from standard input.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "ui/View.h"

namespace qvu {

// The question put when there is something to update; the answer "y" or "Y" updates.
inline constexpr const char* kTerminalUpdateQuestion = "更新しますか? [y/N] ";

class TerminalView : public View {
 public:
  // Errors and the progress bar go to err, everything else to out. The bar is drawn only
  // when drawProgress is true, which by default means the process's standard error is a
  // terminal: a bar in a pipe or a file is only noise.
  TerminalView();
  TerminalView(std::istream& in, std::ostream& out, std::ostream& err, bool drawProgress);

  void SetEvents(ViewEvents* events) override;

  void ShowError(const std::string& text) override;  // one line on err
  void ShowInfo(const std::string& text) override;   // one line on out

  void SetOuterSize(int width, int height) override;

  void ListBox1Clear() override;
  void ListBox1Add(const std::string& line) override;  // kept until Run prints them
  int ListBox1Count() const override;
  void ListBox1Select(int index) override;
  void ListBox2Clear() override;
  void ListBox2Add(const std::string& line) override;  // printed on out at once
  int ListBox2Count() const override;

  void SetCloseButtonVisible(bool visible) override;
  void SetUpdateButtonVisible(bool visible) override;

  void SetProgressMax(int64_t max) override;
  void SetProgressPosition(int64_t position) override;

  void Repaint() override;
  void ProcessMessages() override;

  void Close() override;

  // Prints the candidates and asks; "y"/"Y" (blanks around it allowed) presses update,
  // any other answer or the end of input presses close. With no candidate the notice that
  // nothing is to be updated is printed in place of the list (a window would show its empty
  // list); then, as with the update button hidden, close is pressed at once without a
  // question. When the update
  // handler returns without asking for the close (the run failed), close is pressed too.
  // Returns after the handlers have returned; at once when Close was asked for before.
  void Run() override;

 private:
  void EndProgressLine();
  void DrawProgress();

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  bool drawProgress_;
  ViewEvents* events_ = nullptr;
  std::vector<std::string> listBox1_;
  std::vector<std::string> listBox2_;
  bool updateVisible_ = false;  // hidden until the plan found something, as in the window
  bool closeRequested_ = false;
  int64_t progressMax_ = 0;
  int64_t progressPosition_ = 0;
  int drawnPercent_ = -1;  // percentage last drawn; -1 while no bar line is open
};

// The warning of a second copy, before any view exists: one line on err.
void ShowTerminalAlreadyRunning(const std::string& text);
void ShowTerminalAlreadyRunning(const std::string& text, std::ostream& err);

// The text as one line that is safe to write to a terminal: line breaks and tabs become
// blanks, other control characters (C0, DEL, C1) become "?", since file names and library
// messages from the network could otherwise move the cursor or recolour the terminal.
std::string TerminalLine(const std::string& text);

}  // namespace qvu
