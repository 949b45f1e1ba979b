// A view for tests of the main window's state: it shows nothing, keeps what a user would
// see, logs every call in order, and presses the buttons a test has scripted.
//
//   RecordingView view;
//   view.script = {RecordingView::Press::Update};
//   TMainFrm frm(xml, view);   // calls view.SetEvents(&frm) and prepares
//   view.Run();                // presses update, then stops once Close was asked for
//   EXPECT_EQ(view.infos, std::vector<std::string>{"1件中 1件更新しました"});
//
// As in the window, a hidden button cannot be pressed: such a press is logged as ignored
// and nothing is called. Run never waits: it returns when Close was asked for or the
// script has run out.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/View.h"

namespace qvu {

class RecordingView : public View {
 public:
  enum class Press {
    Close,     // SpeedButton1
    Update,    // SpeedButton4
    CloseBox,  // the title-bar close box: closes only when CanClose() says yes
  };

  // Every call in order, as "Name" or "Name:argument", e.g. "ShowError:text",
  // "ListBox1Add:app.exe Ver 1.2.0.5", "SetUpdateButtonVisible:0", "SetProgressMax:100",
  // "Close", "Run"; presses as "Press:Update", "Press:Update ignored" (hidden button),
  // "Press:CloseBox refused" / "Press:CloseBox accepted".
  std::vector<std::string> calls;

  // What is on the screen now.
  std::vector<std::string> errors;  // every error dialog, in order
  std::vector<std::string> infos;   // every information box, in order
  std::vector<std::string> listBox1;
  std::vector<std::string> listBox2;
  std::vector<int> listBox1Selections;  // every ListBox1Select, in order
  bool closeButtonVisible = true;       // as the window is created
  bool updateButtonVisible = false;     // hidden at creation
  int outerWidth = 0;
  int outerHeight = 0;
  int64_t progressMax = 0;
  int64_t progressPosition = 0;
  std::vector<int64_t> progressPositions;  // every position set, in order
  int repaints = 0;
  int processMessagesCalls = 0;
  bool closeRequested = false;  // Close() was called
  bool closedByBox = false;     // a CloseBox press was accepted
  bool shown = false;           // Run() was entered without a close asked for before

  ViewEvents* events = nullptr;

  // Presses that Run performs, in order, while no close has been asked for.
  std::deque<Press> script;
  // Called inside every ProcessMessages, as the window would deliver a user's input while
  // a transfer pumps messages; e.g. [&] { view.PressNow(RecordingView::Press::CloseBox); }.
  std::function<void()> onProcessMessages;

  // Performs one press now, from anywhere (a test, onProcessMessages). Returns whether it
  // reached the main window (for CloseBox: whether the window closed).
  bool PressNow(Press press) {
    if (events == nullptr) return false;
    switch (press) {
      case Press::Close:
        if (!closeButtonVisible) {
          Log("Press:Close ignored");
          return false;
        }
        Log("Press:Close");
        events->CloseClicked();
        return true;
      case Press::Update:
        if (!updateButtonVisible) {
          Log("Press:Update ignored");
          return false;
        }
        Log("Press:Update");
        events->UpdateClicked();
        return true;
      case Press::CloseBox:
        if (!events->CanClose()) {
          Log("Press:CloseBox refused");
          return false;
        }
        Log("Press:CloseBox accepted");
        closedByBox = true;
        return true;
    }
    return false;
  }

  bool Closed() const { return closeRequested || closedByBox; }

  void SetEvents(ViewEvents* e) override {
    events = e;
    Log("SetEvents");
  }

  void ShowError(const std::string& text) override {
    errors.push_back(text);
    Log("ShowError:" + text);
  }
  void ShowInfo(const std::string& text) override {
    infos.push_back(text);
    Log("ShowInfo:" + text);
  }

  void SetOuterSize(int width, int height) override {
    outerWidth = width;
    outerHeight = height;
    Log("SetOuterSize:" + std::to_string(width) + "x" + std::to_string(height));
  }

  void ListBox1Clear() override {
    listBox1.clear();
    Log("ListBox1Clear");
  }
  void ListBox1Add(const std::string& line) override {
    listBox1.push_back(line);
    Log("ListBox1Add:" + line);
  }
  int ListBox1Count() const override { return static_cast<int>(listBox1.size()); }
  void ListBox1Select(int index) override {
    listBox1Selections.push_back(index);
    Log("ListBox1Select:" + std::to_string(index));
  }
  void ListBox2Clear() override {
    listBox2.clear();
    Log("ListBox2Clear");
  }
  void ListBox2Add(const std::string& line) override {
    listBox2.push_back(line);
    Log("ListBox2Add:" + line);
  }
  int ListBox2Count() const override { return static_cast<int>(listBox2.size()); }

  void SetCloseButtonVisible(bool visible) override {
    closeButtonVisible = visible;
    Log(std::string("SetCloseButtonVisible:") + (visible ? "1" : "0"));
  }
  void SetUpdateButtonVisible(bool visible) override {
    updateButtonVisible = visible;
    Log(std::string("SetUpdateButtonVisible:") + (visible ? "1" : "0"));
  }

  // Progress comes for every block of a transfer; it is kept in progressPositions but not
  // in calls, which stays readable.
  void SetProgressMax(int64_t max) override {
    progressMax = max;
    Log("SetProgressMax:" + std::to_string(max));
  }
  void SetProgressPosition(int64_t position) override {
    progressPosition = position;
    progressPositions.push_back(position);
  }

  void Repaint() override { ++repaints; }
  void ProcessMessages() override {
    ++processMessagesCalls;
    if (onProcessMessages) onProcessMessages();
  }

  void Close() override {
    closeRequested = true;
    Log("Close");
  }

  void Run() override {
    Log("Run");
    if (Closed()) return;
    shown = true;
    while (!Closed() && !script.empty()) {
      const Press press = script.front();
      script.pop_front();
      PressNow(press);
    }
  }

 private:
  void Log(std::string entry) { calls.push_back(std::move(entry)); }
};

}  // namespace qvu
