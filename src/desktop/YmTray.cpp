#include "desktop/YmTray.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QWindow>

namespace orvane::desktop {
namespace {

// A picture for a program that has no icon of its own yet: a blue disc with a white note, drawn
// rather than loaded so the tray never shows an empty slot.
QIcon DrawnIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x0A, 0x5B, 0x97));
  painter.drawEllipse(QRectF(2, 2, 60, 60));
  painter.setBrush(Qt::white);
  painter.drawEllipse(QRectF(16, 38, 14, 11));
  painter.drawEllipse(QRectF(34, 34, 14, 11));
  painter.drawRect(QRectF(27, 16, 3, 28));
  painter.drawRect(QRectF(45, 12, 3, 28));
  QPainterPath beam;
  beam.moveTo(27, 16);
  beam.lineTo(48, 12);
  beam.lineTo(48, 18);
  beam.lineTo(27, 22);
  beam.closeSubpath();
  painter.drawPath(beam);
  painter.end();
  return QIcon(pixmap);
}

// The tooltip: the first MaxTipLength characters, never half of one.
QString CutTip(const QString& text) {
  QString tip;
  int characters = 0;
  for (qsizetype i = 0; i < text.size() && characters < TYmTrayIcon::MaxTipLength; ++characters) {
    const qsizetype width = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    tip += text.mid(i, width);
    i += width;
  }
  return tip;
}

}  // namespace

TYmTrayIcon::TYmTrayIcon(QObject* owner) : QObject(owner), tray(std::make_unique<QSystemTrayIcon>()) {
  currentIcon = ApplicationIcon();
  animTimer.setInterval(1000);
  connect(&animTimer, &QTimer::timeout, this, &TYmTrayIcon::AnimationStep);
  HostAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

  // The notification area reports presses, double clicks and right clicks; the releases that
  // follow them are reported right after, so every click kind of the mapping can be chosen.
  connect(tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
      case QSystemTrayIcon::Trigger:
        HandleTrayMessage(TrayLButtonDown);
        HandleTrayMessage(TrayLButtonUp);
        break;
      case QSystemTrayIcon::DoubleClick:
        HandleTrayMessage(TrayLButtonDblClick);
        HandleTrayMessage(TrayLButtonUp);
        break;
      case QSystemTrayIcon::Context:
        HandleTrayMessage(TrayRButtonDown);
        HandleTrayMessage(TrayRButtonUp);
        break;
      default:
        break;
    }
  });
  connect(tray.get(), &QSystemTrayIcon::messageClicked, this, [this] { HandleTrayMessage(TrayBalloonClick); });
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
      bool allow = true;
      QueryEndSession(allow);
      if (!allow) {
        manager.cancel();
        return;
      }
      EndSession();
    });
  }
  Refresh();
}

TYmTrayIcon::~TYmTrayIcon() {
  if (window) disconnect(windowConnection);
  tray->hide();
}

QIcon TYmTrayIcon::ApplicationIcon() {
  QIcon icon = QGuiApplication::windowIcon();
  if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("orvane"));
  if (icon.isNull()) {
    static const QIcon drawn = DrawnIcon();
    icon = drawn;
  }
  return icon;
}

void TYmTrayIcon::Loaded() {
  loaded = true;
  SetIconIndex(iconIndex);
  if (enabled) tray->show();
}

bool TYmTrayIcon::Shown() const { return enabled && loaded && tray->isVisible() && HostAvailable && HostAvailable(); }

QMenu* TYmTrayIcon::PopupMenu() const { return popupMenu; }
void TYmTrayIcon::SetPopupMenu(QMenu* menu) { popupMenu = menu; }
QWindow* TYmTrayIcon::ApplicationWindow() const { return window; }

void TYmTrayIcon::SetEnabled(bool on) {
  if (on == enabled) return;
  enabled = on;
  if (!loaded) return;
  tray->setVisible(enabled);
}

void TYmTrayIcon::SetHint(const QString& text) {
  if (text == hint) return;
  hint = text;
  Refresh();
}

void TYmTrayIcon::SetIcons(TYmImageList* list) {
  if (icons) disconnect(icons, nullptr, this, nullptr);
  icons = list;
  if (icons) {
    connect(icons, &TYmImageList::Changed, this, [this] { SetIconIndex(iconIndex); });
    // A list that goes away leaves the application's icon.
    connect(icons, &QObject::destroyed, this, [this] { SetIcons(nullptr); });
  }
  if (loaded) SetIconIndex(iconIndex);
}

void TYmTrayIcon::SetIconIndex(int32_t index) {
  iconIndex = index;
  const bool inRange = icons && index >= 0 && index < icons->Images.size();
  currentIcon = inRange ? icons->Images[index] : ApplicationIcon();
  Refresh();
}

void TYmTrayIcon::SetAnimate(bool on) {
  if (on) animTimer.start();
  else animTimer.stop();
}

void TYmTrayIcon::AnimationStep() {
  if (!icons) return;
  SetIconIndex(iconIndex < icons->Images.size() - 1 ? iconIndex + 1 : 0);
}

void TYmTrayIcon::Refresh() {
  shownTip = CutTip(hint);
  tray->setIcon(currentIcon);
  tray->setToolTip(shownTip);
}

void TYmTrayIcon::SetApplicationWindow(QWindow* newWindow) {
  if (window) disconnect(windowConnection);
  window = newWindow;
  minimised = window && (window->windowState() & Qt::WindowMinimized);
  if (window) windowConnection = connect(window, &QWindow::windowStateChanged, this, &TYmTrayIcon::WindowStateChanged);
}

// The window's own minimise and restore (its close button, the task bar, the window manager).
void TYmTrayIcon::WindowStateChanged(Qt::WindowState state) {
  const bool nowMinimised = state == Qt::WindowMinimized;
  if (nowMinimised == minimised) return;
  minimised = nowMinimised;
  if (minimised) {
    MinimizeApp();
  } else if (!restoring) {
    RestoreApp();
  }
}

void TYmTrayIcon::HandleTrayMessage(int message) {
  switch (message) {
    case TrayLButtonDown: LButtonDown(); break;
    case TrayLButtonUp: LButtonUp(); break;
    case TrayLButtonDblClick: LButtonDblClick(); break;
    case TrayRButtonDown: RButtonDown(); break;
    case TrayRButtonUp: RButtonUp(); break;
    case TrayRButtonDblClick: RButtonDblClick(); break;
    case TrayBalloonHide: if (OnBalloonHintHide) OnBalloonHintHide(); break;
    case TrayBalloonClose: if (OnBalloonHintClose) OnBalloonHintClose(); break;
    case TrayBalloonClick: if (OnBalloonHintClick) OnBalloonHintClick(); break;
    default: break;
  }
}

void TYmTrayIcon::MapClick(TYmTrayIconClicks click) {
  if (click == ticNone) return;
  if (RestoreOn == click) RestoreApp();
  if (PopupMenuOn == click) ShowMenu();
}

void TYmTrayIcon::LButtonDown() {
  MapClick(ticLeftClick);
  if (OnLButtonDown) OnLButtonDown();
}

void TYmTrayIcon::LButtonUp() {
  MapClick(ticLeftClickUp);
  if (OnLButtonUp) OnLButtonUp();
}

void TYmTrayIcon::LButtonDblClick() {
  MapClick(ticLeftDblClick);
  if (OnLButtonDblClick) OnLButtonDblClick();
}

void TYmTrayIcon::RButtonDown() {
  MapClick(ticRightClick);
  if (OnRButtonDown) OnRButtonDown();
}

void TYmTrayIcon::RButtonUp() {
  MapClick(ticRightClickUp);
  if (OnRButtonUp) OnRButtonUp();
}

void TYmTrayIcon::RButtonDblClick() {
  MapClick(ticRightDblClick);
  if (OnRButtonDblClick) OnRButtonDblClick();
}

void TYmTrayIcon::QueryEndSession(bool& allow) {
  if (OnQueryEndSession) OnQueryEndSession(*this, allow);
}

void TYmTrayIcon::EndSession() {
  if (OnEndSession) OnEndSession();
}

// The menu at the mouse; while it is open, a click that would restore does nothing.
void TYmTrayIcon::ShowMenu() {
  if (!popupMenu) return;
  menuShowing = true;
  connect(popupMenu, &QMenu::aboutToHide, this, [this] { menuShowing = false; }, Qt::SingleShotConnection);
  popupMenu->popup(QCursor::pos());
  if (!popupMenu->isVisible()) menuShowing = false;
}

// Minimised: off the task bar, when the tray is there to bring the window back; with no tray host
// the window stays on the task bar, or the user could never find it again.
void TYmTrayIcon::MinimizeApp() {
  if (window && enabled && HideOnMinimize && HostAvailable && HostAvailable()) {
    // After the state change has run its course: showMinimized() makes the window visible again
    // once its state is set.
    QTimer::singleShot(0, this, [this] {
      if (window && minimised) window->hide();
    });
  }
  if (OnMinimizeApp) OnMinimizeApp();
}

void TYmTrayIcon::RestoreApp() {
  if (menuShowing) return;
  restoring = true;
  if (window && enabled) {
    window->showNormal();
    window->raise();
    window->requestActivate();
    minimised = false;
  }
  if (OnRestoreApp) OnRestoreApp();
  restoring = false;
}

}  // namespace orvane::desktop
