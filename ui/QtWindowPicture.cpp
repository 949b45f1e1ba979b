// The picture of the window in the README, taken from the window itself. A file of its own
// so that the program, which never takes pictures, does not carry it.
#include <QApplication>
#include <QPixmap>

#include "ui/QtMainWindow.h"
#include "ui/QtView.h"

namespace qvu {

bool SaveWindowPicture(View& view, const std::string& path) {
  auto* window = dynamic_cast<QtMainWindow*>(&view);
  if (window == nullptr) return false;
  window->ShowCentred();
  // Shown, laid out and painted once before the picture is taken.
  QApplication::processEvents();
  return window->grab().save(QString::fromStdString(path), "PNG");
}

}  // namespace qvu
