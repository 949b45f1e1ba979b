// The main window itself. Private to ui/ and its tests: the rest of the program reaches it
// only through View (see QtView.h).
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/View.h"

class QEventLoop;
class QListWidget;
class QProgressBar;
class QToolButton;
class QLabel;

namespace qvu {

// One message box as it was put up, for tests.
struct ShownDialog {
  QMessageBox::Icon icon;
  QString title;
  QString text;
  QMessageBox::StandardButtons buttons;
};

// Set (to anything but "" or "0") in the environment, every message box is answered with
// OK as soon as it is up and its text is written to standard error, so that a run of the
// program under a display never waits for a person.
inline constexpr const char* kAutoAcceptDialogsVariable = "QVU_AUTO_ACCEPT_DIALOGS";

// Puts the box up and waits for its answer, or answers it at once with OK when autoAccept;
// the box is logged in shown when that is given.
void ExecMessageBox(QMessageBox& box, bool autoAccept, std::vector<ShownDialog>* shown);
bool AutoAcceptFromEnvironment();

// The warning box of a second copy (needs a QApplication); see ShowQtAlreadyRunning.
void ShowAlreadyRunningBox(const std::string& text, const std::string& caption,
                           bool autoAccept, std::vector<ShownDialog>* shown);

// The taskbar title, also the caption of the information boxes.
inline constexpr const char* kApplicationTitle = "バージョンアップ";
inline constexpr const char* kWindowCaption = "QueltaVersionUp";

// The window's size is fixed and its components keep the places of the original design,
// in pixels of the client area. Needs a QApplication.
class QtMainWindow : public QWidget, public View {
 public:
  QtMainWindow();
  ~QtMainWindow() override;

  void SetEvents(ViewEvents* events) override;
  void ShowError(const std::string& text) override;
  void ShowInfo(const std::string& text) override;
  void SetOuterSize(int width, int height) override;
  void ListBox1Clear() override;
  void ListBox1Add(const std::string& line) override;
  int ListBox1Count() const override;
  void ListBox1Select(int index) override;
  void ListBox2Clear() override;
  void ListBox2Add(const std::string& line) override;
  int ListBox2Count() const override;
  void SetCloseButtonVisible(bool visible) override;
  void SetUpdateButtonVisible(bool visible) override;
  void SetProgressMax(int64_t max) override;
  void SetProgressPosition(int64_t position) override;
  void Repaint() override;
  void ProcessMessages() override;
  void Close() override;
  void Run() override;

  // Test hooks: answer every box at once (and log it) instead of waiting for a person.
  void SetAutoAcceptDialogs(bool autoAccept) { autoAccept_ = autoAccept; }
  const std::vector<ShownDialog>& ShownDialogs() const { return shownDialogs_; }

  // Shows the window at its size in the centre of the screen, without running a loop.
  void ShowCentred();

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void Press(void (ViewEvents::*handler)());
  void ApplyOuterSize();
  void UpdateProgressBar();

  QLabel* image1_;
  QListWidget* listBox1_;
  QListWidget* listBox2_;
  QToolButton* speedButton1_;
  QToolButton* speedButton4_;
  QProgressBar* progressBar1_;

  ViewEvents* events_ = nullptr;
  int outerWidth_ = 647;
  int outerHeight_ = 427;
  int64_t progressMax_ = 0;
  int64_t progressPosition_ = 0;
  bool closeRequested_ = false;
  bool applyingSize_ = false;
  bool autoAccept_ = false;
  bool inHandler_ = false;  // a button's handler is running
  std::vector<ShownDialog> shownDialogs_;
  QEventLoop* loop_ = nullptr;  // the loop of Run while it runs
};

}  // namespace qvu
