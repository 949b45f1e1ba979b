#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <climits>
#include <cstdlib>
#include <functional>
#include <memory>

#include "ui/QtMainWindow.h"
#include "ui/QtView.h"

namespace qvu {
namespace {

struct Events : ViewEvents {
  View* view = nullptr;
  bool canClose = true;
  int closeClicks = 0;
  int updateClicks = 0;
  int closeQuestions = 0;
  void CloseClicked() override {
    ++closeClicks;
    view->Close();
  }
  std::function<void()> duringUpdate;
  void UpdateClicked() override {
    ++updateClicks;
    if (duringUpdate) duringUpdate();
  }
  bool CanClose() override {
    ++closeQuestions;
    return canClose;
  }
};

class QtWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<QtMainWindow>();
    window->SetAutoAcceptDialogs(true);
    events.view = window.get();
    window->SetEvents(&events);
    window->SetOuterSize(647, 427);
  }
  template <class T>
  T* Child(const char* name) {
    T* child = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  std::unique_ptr<QtMainWindow> window;
  Events events;
};

TEST_F(QtWindowTest, WindowIsFixedWithCloseBoxOnly) {
  window->ShowCentred();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("QueltaVersionUp"));
  // Offscreen windows have no frame, so the outer size is the client size.
  EXPECT_EQ(window->frameGeometry().size(), QSize(647, 427));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(window->windowIcon().isNull());

  const QString family = window->font().family();
  EXPECT_TRUE(family == QStringLiteral("Tahoma") ||
              QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese))
      << family.toStdString();
  EXPECT_EQ(window->font().pixelSize(), 12);

  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE(std::abs(window->frameGeometry().center().x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(window->frameGeometry().center().y() - screen.center().y()), 1);
}

TEST_F(QtWindowTest, ComponentsKeepTheirPlaces) {
  window->ShowCentred();
  struct Case {
    const char* name;
    QRect place;
    bool visible;
  };
  const Case cases[] = {
      {"Image1", QRect(0, 0, 640, 400), true},
      {"SpeedButton1", QRect(464, 311, 81, 81), true},
      {"SpeedButton4", QRect(352, 311, 81, 81), false},
      {"ListBox1", QRect(56, 120, 241, 185), true},
      {"ListBox2", QRect(350, 120, 241, 185), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget* widget = Child<QWidget>(c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), c.place);
    EXPECT_EQ(widget->isVisible(), c.visible);
  }
  QProgressBar* bar = Child<QProgressBar>("cxProgressBar1");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->pos(), QPoint(56, 328));
  EXPECT_EQ(bar->width(), 241);
  EXPECT_FALSE(bar->isTextVisible());

  // The picture lies under every other component.
  EXPECT_EQ(window->childAt(60, 124), Child<QListWidget>("ListBox1")->viewport());
  EXPECT_EQ(Child<QLabel>("Image1")->pixmap().size(), QSize(640, 400));
  for (const char* name : {"ListBox1", "ListBox2"}) {
    EXPECT_EQ(Child<QListWidget>(name)->frameShape(), QFrame::NoFrame) << name;
  }
}

TEST_F(QtWindowTest, ListsShowTheirLinesAndSelectionTakesFocus) {
  window->ShowCentred();
  auto* list1 = Child<QListWidget>("ListBox1");
  auto* list2 = Child<QListWidget>("ListBox2");
  EXPECT_EQ(window->ListBox1Count(), 0);
  window->ListBox1Add("app.exe Ver 1.2.0.5");
  window->ListBox1Add("データ.mdb Ver 2");
  window->ListBox2Add("app.exe Ver 1.2.0.5");
  EXPECT_EQ(window->ListBox1Count(), 2);
  EXPECT_EQ(window->ListBox2Count(), 1);
  EXPECT_EQ(list1->item(1)->text(), QStringLiteral("データ.mdb Ver 2"));
  EXPECT_EQ(list1->visualItemRect(list1->item(0)).height(), 14);
  EXPECT_EQ(list2->visualItemRect(list2->item(0)).height(), 14);

  list2->setFocus();
  window->ListBox1Select(1);
  EXPECT_EQ(list1->currentRow(), 1);
  EXPECT_EQ(window->focusWidget(), list1);
  for (const int outside : {2, -2, INT_MAX}) {
    window->ListBox1Select(outside);
    EXPECT_EQ(list1->currentRow(), 1) << outside;
  }

  window->ListBox1Clear();
  window->ListBox2Clear();
  EXPECT_EQ(window->ListBox1Count(), 0);
  EXPECT_EQ(window->ListBox2Count(), 0);
}

TEST_F(QtWindowTest, ButtonsShowHideAndReachTheMainWindow) {
  window->ShowCentred();
  auto* close = Child<QToolButton>("SpeedButton1");
  auto* update = Child<QToolButton>("SpeedButton4");
  EXPECT_TRUE(close->autoRaise());
  EXPECT_FALSE(update->icon().isNull());
  window->SetUpdateButtonVisible(true);
  window->SetCloseButtonVisible(false);
  EXPECT_TRUE(update->isVisible());
  EXPECT_FALSE(close->isVisible());
  // A click that reaches the window while the run pumps messages starts nothing.
  events.duringUpdate = [update] { update->click(); };
  update->click();
  EXPECT_EQ(events.updateClicks, 1);
  window->SetCloseButtonVisible(true);
  close->click();
  EXPECT_EQ(events.closeClicks, 1);
  EXPECT_FALSE(window->isVisible());  // the handler asked for the close
}

TEST_F(QtWindowTest, ProgressBarFollowsByteCounts) {
  auto* bar = Child<QProgressBar>("cxProgressBar1");
  struct Case {
    int64_t max, position;
    int barMax, barValue;
  };
  const Case cases[] = {
      {100, 50, 100, 50},
      {100, 150, 100, 100},  // past the end: full, not left where it was
      {100, -5, 100, 0},
      {0, 10, 1, 0},  // nothing known: empty
      {-1, 10, 1, 0},
      {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
      {int64_t{6} << 32, int64_t{3} << 32, 0x60000000, 0x30000000},  // over 2 GiB: shifted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.max << " " << c.position);
    window->SetProgressMax(c.max);
    window->SetProgressPosition(c.position);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), c.barMax);
    EXPECT_EQ(bar->value(), c.barValue);
  }

  window->ShowCentred();
  window->SetProgressMax(100);
  window->SetProgressPosition(100);
  const QImage full = bar->grab().toImage();
  EXPECT_EQ(full.pixelColor(full.width() / 2, full.height() / 2), QColor(0, 255, 0));
}

TEST_F(QtWindowTest, CloseBoxIsRefusedWhileTheMainWindowSaysSo) {
  window->ShowCentred();
  events.canClose = false;
  window->close();  // what the title-bar close box does
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(events.closeQuestions, 1);
  events.canClose = true;
  window->close();
  EXPECT_FALSE(window->isVisible());

  // A close the program asks for is not put to the question.
  auto other = std::make_unique<QtMainWindow>();
  Events otherEvents;
  otherEvents.canClose = false;
  other->SetEvents(&otherEvents);
  other->ShowCentred();
  other->Close();
  EXPECT_FALSE(other->isVisible());
  EXPECT_EQ(otherEvents.closeQuestions, 0);
}

TEST_F(QtWindowTest, RunEndsWhenTheWindowCloses) {
  // By the close button, whose handler asks for the close.
  QTimer::singleShot(0, window.get(), [this] { Child<QToolButton>("SpeedButton1")->click(); });
  window->Run();
  EXPECT_EQ(events.closeClicks, 1);
  EXPECT_FALSE(window->isVisible());

  // By the close box, refused once while the main window is busy.
  QtMainWindow second;
  Events secondEvents;
  secondEvents.view = &second;
  secondEvents.canClose = false;
  second.SetEvents(&secondEvents);
  QTimer::singleShot(0, &second, [&] {
    second.close();
    secondEvents.canClose = true;
    second.close();
  });
  second.Run();
  EXPECT_EQ(secondEvents.closeQuestions, 2);
  EXPECT_FALSE(second.isVisible());

  // A close asked for before Run (the preparation failed) never shows the window.
  QtMainWindow third;
  third.Close();
  third.Run();
  EXPECT_FALSE(third.isVisible());
}

TEST_F(QtWindowTest, DialogsHaveTheirKindAndOneOkButton) {
  std::vector<ShownDialog> shown;
  ShowAlreadyRunningBox("既に起動しています", "起動チェック", true, &shown);
  window->ShowError("引数の数に過不足があります");
  window->ShowCentred();
  window->ShowInfo("1件中 1件更新しました");
  const auto& own = window->ShownDialogs();
  shown.insert(shown.end(), own.begin(), own.end());
  struct Expected {
    QMessageBox::Icon icon;
    QString title;
    QString text;
  };
  const Expected expected[] = {
      {QMessageBox::Warning, QStringLiteral("起動チェック"), QStringLiteral("既に起動しています")},
      {QMessageBox::Critical, QStringLiteral("エラー"), QStringLiteral("引数の数に過不足があります")},
      {QMessageBox::NoIcon, QStringLiteral("バージョンアップ"),
       QStringLiteral("1件中 1件更新しました")},
  };
  ASSERT_EQ(shown.size(), std::size(expected));
  for (size_t i = 0; i < shown.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(shown[i].icon, expected[i].icon);
    EXPECT_EQ(shown[i].title, expected[i].title);
    EXPECT_EQ(shown[i].text, expected[i].text);
    EXPECT_EQ(shown[i].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }
}

TEST(QtView, FactoryMakesTheWindowAndTheEnvironmentAnswersItsBoxes) {
  setenv(kAutoAcceptDialogsVariable, "1", 1);
  int argc = 1;
  char name[] = "qt_view_test";
  char* argv[] = {name, nullptr};
  std::unique_ptr<View> view = CreateQtView(argc, argv);
  auto* window = dynamic_cast<QtMainWindow*>(view.get());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("バージョンアップ"));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("QueltaVersionUp"));

  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  view->ShowError("エラーの文");
  view->ShowInfo("お知らせの文");
  ShowQtAlreadyRunning(argc, argv, "既に起動しています", "起動チェック");
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  unsetenv(kAutoAcceptDialogsVariable);
  // The offscreen platform writes warnings of its own to standard error.
  const size_t error = err.find("エラーの文\n");
  EXPECT_NE(error, std::string::npos) << err;
  EXPECT_NE(err.find("既に起動しています\n", error), std::string::npos) << err;
  EXPECT_EQ(out, "お知らせの文\n");
  EXPECT_EQ(window->ShownDialogs().size(), 2u);
}

}  // namespace
}  // namespace qvu

// The application object lives for the whole test program, as in the real one; listing the
// tests needs none, so discovery works without any platform.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
