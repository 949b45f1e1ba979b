#include "ui/QtView.h"

#include <QApplication>
#include <memory>

#include "ui/QtMainWindow.h"
#include "ui/QtPictures.h"

namespace qvu {

namespace {

// A base of QtView so that the application object is made before the window and removed
// after it.
class ApplicationHolder {
 protected:
  ApplicationHolder(int& argc, char** argv) {
    if (QCoreApplication::instance() == nullptr) {
      application_ = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QString::fromUtf8(kWindowCaption));
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
    // The window's own loop in Run ends the program's stay in Qt; a message box that
    // closes while the window is hidden must not end anything.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setWindowIcon(PaintWindowIcon());
  }

 private:
  std::unique_ptr<QApplication> application_;
};

class QtView final : private ApplicationHolder, public QtMainWindow {
 public:
  QtView(int& argc, char** argv) : ApplicationHolder(argc, argv) {}
};

}  // namespace

std::unique_ptr<View> CreateQtView(int& argc, char** argv) {
  return std::make_unique<QtView>(argc, argv);
}

void ShowQtAlreadyRunning(int& argc, char** argv, const std::string& text,
                          const std::string& caption) {
  std::unique_ptr<QApplication> application;
  if (QCoreApplication::instance() == nullptr) {
    application = std::make_unique<QApplication>(argc, argv);
  }
  QGuiApplication::setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
  ShowAlreadyRunningBox(text, caption, AutoAcceptFromEnvironment(), nullptr);
}

}  // namespace qvu
