#include "ui/QtMainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/QtPictures.h"

namespace qvu {

namespace {

constexpr int kItemHeight = 14;
constexpr int kFontPixels = 12;  // 9 point at 96 dots per inch; the layout is in pixels too

// Rows of a fixed height, as the original lists had.
class FixedHeightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight);
  }
};

// Tahoma where it is installed; otherwise a Japanese sans-serif face, since every text the
// window shows is Japanese or a file name.
QString ChooseFontFamily() {
  if (QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) return QStringLiteral("Tahoma");
  for (const char* preferred : {"IPAPGothic", "IPAGothic", "Noto Sans CJK JP", "VL PGothic"}) {
    if (QFontDatabase::hasFamily(QString::fromLatin1(preferred))) {
      return QString::fromLatin1(preferred);
    }
  }
  const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
  for (const QString& family : japanese) {
    if (!family.contains(QStringLiteral("Mincho"), Qt::CaseInsensitive) &&
        !family.contains(QStringLiteral("明朝"))) {
      return family;
    }
  }
  return japanese.isEmpty() ? QFont().family() : japanese.front();
}

QListWidget* MakeListBox(QWidget* parent, const char* name, const QRect& place) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setFrameShape(QFrame::NoFrame);
  list->setUniformItemSizes(true);
  list->setItemDelegate(new FixedHeightDelegate(list));
  list->setGeometry(place);
  return list;
}

QToolButton* MakeSpeedButton(QWidget* parent, const char* name, const QPoint& place,
                             const QPixmap& glyph) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoRaise(true);  // flat until the pointer is over it
  button->setFocusPolicy(Qt::NoFocus);
  button->setIcon(QIcon(glyph));
  button->setIconSize(glyph.size());
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  button->setGeometry(QRect(place, QSize(81, 81)));
  return button;
}

}  // namespace

bool AutoAcceptFromEnvironment() {
  const char* value = std::getenv(kAutoAcceptDialogsVariable);
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

void ExecMessageBox(QMessageBox& box, bool autoAccept, std::vector<ShownDialog>* shown) {
  if (shown != nullptr) {
    shown->push_back({box.icon(), box.windowTitle(), box.text(), box.standardButtons()});
  }
  if (!autoAccept) {
    box.exec();
    return;
  }
  if (AutoAcceptFromEnvironment()) {
    // A person would have read it; a test reads it here, where the terminal puts it too.
    const bool problem = box.icon() == QMessageBox::Critical || box.icon() == QMessageBox::Warning;
    std::FILE* stream = problem ? stderr : stdout;
    std::fprintf(stream, "%s\n", box.text().toUtf8().constData());
    std::fflush(stream);
  }
  // The box is really put up and answered through its button, so the path a person takes
  // is the one taken here.
  QTimer::singleShot(0, &box, [&box] {
    if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
      ok->click();
    } else {
      box.done(0);
    }
  });
  box.exec();
}

void ShowAlreadyRunningBox(const std::string& text, const std::string& caption,
                           bool autoAccept, std::vector<ShownDialog>* shown) {
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok);
  ExecMessageBox(box, autoAccept, shown);
}

QtMainWindow::QtMainWindow() : QWidget(nullptr) {
  setObjectName(QStringLiteral("MainFrm"));
  setWindowTitle(QString::fromUtf8(kWindowCaption));
  // A single border with the close box only: no minimise, no maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setWindowIcon(PaintWindowIcon());

  const QString family = ChooseFontFamily();
  QFont font(family);
  font.setPixelSize(kFontPixels);
  setFont(font);

  image1_ = new QLabel(this);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setPixmap(PaintBackground(family));
  image1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  image1_->setGeometry(0, 0, 640, 400);

  speedButton1_ = MakeSpeedButton(this, "SpeedButton1", QPoint(464, 311), PaintCloseGlyph(family));
  speedButton4_ = MakeSpeedButton(this, "SpeedButton4", QPoint(352, 311), PaintUpdateGlyph(family));
  speedButton4_->hide();
  listBox1_ = MakeListBox(this, "ListBox1", QRect(56, 120, 241, 185));
  listBox2_ = MakeListBox(this, "ListBox2", QRect(350, 120, 241, 185));

  progressBar1_ = new QProgressBar(this);
  progressBar1_->setObjectName(QStringLiteral("cxProgressBar1"));
  progressBar1_->setTextVisible(false);
  progressBar1_->setGeometry(56, 328, 241, 21);
  // Flat, lime on the highlight colour of a button, as the original bar.
  progressBar1_->setStyleSheet(
      QStringLiteral("QProgressBar { border: none; background: palette(light); }"
                     "QProgressBar::chunk { background: #00ff00; }"));
  progressBar1_->setRange(0, 100);
  progressBar1_->setValue(0);
  progressMax_ = 100;

  image1_->lower();
  setTabOrder(listBox1_, listBox2_);
  listBox1_->setFocus();

  // The handlers pump messages while they work; a click that arrives meanwhile (one queued
  // before the buttons were hidden) must not start a second handler inside the first.
  connect(speedButton1_, &QToolButton::clicked, this,
          [this] { Press(&ViewEvents::CloseClicked); });
  connect(speedButton4_, &QToolButton::clicked, this,
          [this] { Press(&ViewEvents::UpdateClicked); });

  autoAccept_ = AutoAcceptFromEnvironment();
  ApplyOuterSize();
}

QtMainWindow::~QtMainWindow() = default;

void QtMainWindow::Press(void (ViewEvents::*handler)()) {
  if (events_ == nullptr || inHandler_) return;
  inHandler_ = true;
  (events_->*handler)();
  inHandler_ = false;
}

void QtMainWindow::SetEvents(ViewEvents* events) { events_ = events; }

void QtMainWindow::ShowError(const std::string& text) {
  // Before the window is up (the preparation) the box stands alone in the screen's centre.
  QMessageBox box(QMessageBox::Critical, QStringLiteral("エラー"), QString::fromStdString(text),
                  QMessageBox::Ok, isVisible() ? this : nullptr);
  ExecMessageBox(box, autoAccept_, &shownDialogs_);
}

void QtMainWindow::ShowInfo(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle),
                  QString::fromStdString(text), QMessageBox::Ok, isVisible() ? this : nullptr);
  ExecMessageBox(box, autoAccept_, &shownDialogs_);
}

void QtMainWindow::SetOuterSize(int width, int height) {
  outerWidth_ = std::max(width, 1);
  outerHeight_ = std::max(height, 1);
  ApplyOuterSize();
}

void QtMainWindow::ListBox1Clear() { listBox1_->clear(); }
void QtMainWindow::ListBox1Add(const std::string& line) {
  listBox1_->addItem(QString::fromStdString(line));
}
int QtMainWindow::ListBox1Count() const { return listBox1_->count(); }

void QtMainWindow::ListBox1Select(int index) {
  if (index < -1 || index >= listBox1_->count()) return;
  listBox1_->setCurrentRow(index);
  if (index >= 0) listBox1_->scrollToItem(listBox1_->item(index));
  listBox1_->setFocus();
}

void QtMainWindow::ListBox2Clear() { listBox2_->clear(); }
void QtMainWindow::ListBox2Add(const std::string& line) {
  listBox2_->addItem(QString::fromStdString(line));
}
int QtMainWindow::ListBox2Count() const { return listBox2_->count(); }

void QtMainWindow::SetCloseButtonVisible(bool visible) { speedButton1_->setVisible(visible); }
void QtMainWindow::SetUpdateButtonVisible(bool visible) { speedButton4_->setVisible(visible); }

void QtMainWindow::SetProgressMax(int64_t max) {
  progressMax_ = max;
  UpdateProgressBar();
}

void QtMainWindow::SetProgressPosition(int64_t position) {
  progressPosition_ = position;
  UpdateProgressBar();
}

// The bar counts in int while transfers count bytes in 64 bits: both figures are shifted
// down together until the maximum fits, which keeps the share drawn. A position outside
// 0..max is drawn at the nearer end (the bar itself would ignore it and stay where it was);
// with no maximum the bar is empty.
void QtMainWindow::UpdateProgressBar() {
  if (progressMax_ <= 0) {
    progressBar1_->setRange(0, 1);
    progressBar1_->setValue(0);
    return;
  }
  int shift = 0;
  while ((progressMax_ >> shift) > INT_MAX) ++shift;
  const int64_t position = std::clamp<int64_t>(progressPosition_, 0, progressMax_);
  progressBar1_->setRange(0, static_cast<int>(progressMax_ >> shift));
  progressBar1_->setValue(static_cast<int>(position >> shift));
}

void QtMainWindow::Repaint() { repaint(); }
void QtMainWindow::ProcessMessages() { QCoreApplication::processEvents(); }

void QtMainWindow::Close() {
  closeRequested_ = true;
  close();
  if (loop_ != nullptr) loop_->quit();
}

void QtMainWindow::Run() {
  if (closeRequested_) return;
  ShowCentred();
  QEventLoop loop;
  loop_ = &loop;
  if (!closeRequested_) loop.exec();
  loop_ = nullptr;
}

void QtMainWindow::ShowCentred() {
  ApplyOuterSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->availableGeometry();
    // For a window, move places the frame, so the outer size centres it.
    move(desktop.x() + (desktop.width() - outerWidth_) / 2,
         desktop.y() + (desktop.height() - outerHeight_) / 2);
  }
  show();
}

// The size asked for is the outer one, frame included. The frame is known only once the
// window manager has framed the window, so the client area is fitted again whenever the
// window is shown or moved; without a frame (offscreen, some compositors) the client area
// is the whole size.
void QtMainWindow::ApplyOuterSize() {
  if (applyingSize_) return;
  applyingSize_ = true;
  const QSize frame = frameGeometry().size() - geometry().size();
  const QSize client(std::max(outerWidth_ - std::max(frame.width(), 0), 1),
                     std::max(outerHeight_ - std::max(frame.height(), 0), 1));
  if (minimumSize() != client || maximumSize() != client || size() != client) {
    setFixedSize(client);
  }
  applyingSize_ = false;
}

bool QtMainWindow::event(QEvent* e) {
  const bool handled = QWidget::event(e);
  switch (e->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::WindowActivate:  // by then a window manager has framed the window
      ApplyOuterSize();
      break;
    default:
      break;
  }
  return handled;
}

void QtMainWindow::closeEvent(QCloseEvent* e) {
  // A close that the program asked for always goes through; the close box only while the
  // main window allows it, since a run half done would leave files half replaced.
  if (!closeRequested_ && events_ != nullptr && !events_->CanClose()) {
    e->ignore();
    return;
  }
  closeRequested_ = true;
  e->accept();
  if (loop_ != nullptr) loop_->quit();
}

}  // namespace qvu
