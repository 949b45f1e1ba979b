// The real window under Qt's offscreen platform, driven by the main window's operations
// against the local service: what the user sees before, during and after an update run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>

#include "app/MainFrm.h"
#include "net/XmlMod.h"
#include "tests/app/CurrentDirectory.h"
#include "tests/e2e/ProgramRunner.h"
#include "tests/e2e/Settings.h"
#include "tests/e2e/VersionList.h"
#include "tests/harness/Harness.h"
#include "ui/QtMainWindow.h"
#include "ui/QtView.h"

namespace qvu::testing {
namespace {
namespace fs = std::filesystem;

TEST(Window, ListsCandidatesAndLocksItselfDuringTheRun) {
  Certificate cert = CertificateAuthority::Shared().Issue("localhost");
  TestService service(cert);
  setenv("SSL_CERT_FILE", CertificateAuthority::Shared().RootFile().c_str(), 1);
  TempFolder root;
  const std::string program = root.Path() + "/prog/";
  WriteFile(program + "7-ZIP32.DLL", "present");  // no archive in this run
  CurrentDirectory cwd(root.Path());
  MakeSettingsDb(root.Path() + "/SERVER.MDB",
                 SettingsRows("localhost:" + std::to_string(service.Port())));
  service.SetRoute("GET", "/quelta/api/office/gvermgr",
                   Route::Ok(VersionListXml({{{"FILENAME", "a.bin"}, {"ZIPFILENAME", "a.bin"}, {"VER_NO", "1.0.0.1"}},
                                             {{"FILENAME", "b.txt"}, {"ZIPFILENAME", "b.txt"}, {"REVISE_NO", "2"}}})));
  service.SetFile("a.bin", std::string(4 << 20, 'a'));
  service.SetFile("b.txt", "b");

  int argc = 1;
  char name[] = "QueltaVersionUp";
  char* argv[] = {name, nullptr};
  std::unique_ptr<View> view = CreateQtView(argc, argv);
  auto* window = dynamic_cast<QtMainWindow*>(view.get());
  ASSERT_NE(window, nullptr);
  window->SetAutoAcceptDialogs(true);
  startAborted = false;
  TXmlMod xml;
  TMainFrm frm(xml, *view, ProgramContext{{"APP"}, program + "QueltaVersionUp"});
  ASSERT_FALSE(startAborted) << (window->ShownDialogs().empty() ? "" : window->ShownDialogs()[0].text.toStdString());

  auto* list1 = window->findChild<QListWidget*>("ListBox1");
  auto* list2 = window->findChild<QListWidget*>("ListBox2");
  auto* update = window->findChild<QAbstractButton*>("SpeedButton4");
  auto* close = window->findChild<QAbstractButton*>("SpeedButton1");
  ASSERT_TRUE(list1 && list2 && update && close);
  ASSERT_EQ(list1->count(), 2);
  EXPECT_EQ(list1->item(0)->text().toStdString(), "a.bin Ver 1.0.0.1");
  EXPECT_EQ(list1->item(1)->text().toStdString(), "b.txt Ver 2");
  window->ShowCentred();
  EXPECT_TRUE(update->isVisible());
  EXPECT_TRUE(close->isVisible());

  // While the download pumps events: both buttons hidden, the close box refused.
  bool sawRun = false, updateHidden = false, closeHidden = false, stayedOpen = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (sawRun || list1->currentRow() < 0) return;
    sawRun = true;
    updateHidden = !update->isVisible();
    closeHidden = !close->isVisible();
    window->close();  // as the title-bar close box would
    stayedOpen = window->isVisible();
  });
  probe.start(0);
  update->click();
  probe.stop();

  EXPECT_TRUE(sawRun) << "the run pumped events while it downloaded";
  EXPECT_TRUE(updateHidden);
  EXPECT_TRUE(closeHidden);
  EXPECT_TRUE(stayedOpen) << "a close request during the run is refused";
  EXPECT_EQ(list2->count(), 2);
  ASSERT_FALSE(window->ShownDialogs().empty());
  EXPECT_EQ(window->ShownDialogs().back().text.toStdString(), "2件中 2件更新しました");
  EXPECT_EQ(ReadFile(program + "b.txt"), "b");
  QApplication::processEvents();
  EXPECT_FALSE(window->isVisible()) << "the window closes after the summary";
}

}  // namespace
}  // namespace qvu::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
