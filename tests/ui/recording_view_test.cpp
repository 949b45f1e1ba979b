#include "ui/RecordingView.h"

#include <gtest/gtest.h>

namespace qvu {
namespace {

struct Events : ViewEvents {
  View* view = nullptr;
  bool running = false;
  std::vector<std::string> presses;
  void CloseClicked() override {
    presses.push_back("close");
    view->Close();
  }
  void UpdateClicked() override {
    presses.push_back("update");
    view->ProcessMessages();  // as a transfer would
    view->Close();
  }
  bool CanClose() override { return !running; }
};

TEST(RecordingView, PressesReachOnlyVisibleButtonsAndRunStopsAtClose) {
  RecordingView view;
  Events events;
  events.view = &view;
  view.SetEvents(&events);
  view.script = {RecordingView::Press::Update, RecordingView::Press::Close,
                 RecordingView::Press::Update};
  view.Run();
  // The update button is hidden at creation, so only close got through, and Run stopped.
  EXPECT_EQ(events.presses, std::vector<std::string>{"close"});
  EXPECT_EQ(view.calls, (std::vector<std::string>{"SetEvents", "Run", "Press:Update ignored",
                                                  "Press:Close", "Close"}));
  EXPECT_EQ(view.script.size(), 1u);
}

TEST(RecordingView, CloseBoxAsksTheMainWindowDuringPumping) {
  RecordingView view;
  Events events;
  events.view = &view;
  view.SetEvents(&events);
  view.SetUpdateButtonVisible(true);
  std::vector<bool> answers;
  view.onProcessMessages = [&] {
    events.running = true;
    answers.push_back(view.PressNow(RecordingView::Press::CloseBox));
    events.running = false;
    answers.push_back(view.PressNow(RecordingView::Press::CloseBox));
  };
  view.script = {RecordingView::Press::Update};
  view.Run();
  EXPECT_EQ(answers, (std::vector<bool>{false, true}));
  EXPECT_TRUE(view.closedByBox);
  EXPECT_TRUE(view.closeRequested);
  EXPECT_EQ(view.processMessagesCalls, 1);
}

}  // namespace
}  // namespace qvu
