// The seam between the main window's state and operations (TMainFrm) and whatever shows
// them: the Qt window, the terminal, or a recording view in tests. The view knows nothing
// of the update; it shows lines, buttons, progress and dialogs, and reports presses.
#pragma once

#include <cstdint>
#include <string>

namespace qvu {

// The notice that nothing is to be updated.
inline constexpr const char* kNothingToUpdateText = "更新するファイルはありません";

// What the user can do; TMainFrm implements it.
class ViewEvents {
 public:
  virtual ~ViewEvents() = default;
  virtual void CloseClicked() = 0;   // SpeedButton1
  virtual void UpdateClicked() = 0;  // SpeedButton4
  // Asked before the window closes by any other way (the title-bar close box).
  virtual bool CanClose() = 0;
};

class View {
 public:
  virtual ~View() = default;

  virtual void SetEvents(ViewEvents* events) = 0;

  // Error dialog with one OK button; information box; the warning of a second copy.
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowInfo(const std::string& text) = 0;

  virtual void SetOuterSize(int width, int height) = 0;

  // ListBox1: the candidates; ListBox2: the files applied in this run.
  virtual void ListBox1Clear() = 0;
  virtual void ListBox1Add(const std::string& line) = 0;
  virtual int ListBox1Count() const = 0;
  // Selects a line and gives the list the focus.
  virtual void ListBox1Select(int index) = 0;
  virtual void ListBox2Clear() = 0;
  virtual void ListBox2Add(const std::string& line) = 0;
  virtual int ListBox2Count() const = 0;

  virtual void SetCloseButtonVisible(bool visible) = 0;   // SpeedButton1
  virtual void SetUpdateButtonVisible(bool visible) = 0;  // SpeedButton4

  // cxProgressBar1.
  virtual void SetProgressMax(int64_t max) = 0;
  virtual void SetProgressPosition(int64_t position) = 0;

  virtual void Repaint() = 0;
  virtual void ProcessMessages() = 0;

  // Asks the window to close; the message loop ends once the current handler returns.
  virtual void Close() = 0;

  // Shows the window and runs the message loop until it has closed.
  virtual void Run() = 0;
};

}  // namespace qvu
