#pragma once
// TYmTrayIcon: one icon in the desktop's notification area (StatusNotifierItem, or an XEmbed tray
// where that is what the desktop has) with a tooltip, a click mapping that restores the
// application's window or opens a popup menu, an optional animation through the pictures of an
// image list, and hiding the window from the task bar while it is minimised.
//
// The desktop's tray host may start after the player, restart, or be missing: the icon shows
// whenever a host is there and comes back by itself after a restart. While no host exists,
// minimising leaves the window on the task bar, as the tray would be no way back to it.
//
// Main thread only: the tray's notifications, the timer and the window's state changes all arrive
// through the Qt event loop.

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;
class QWindow;

namespace orvane::desktop {

// The click kinds, in their order (0 to 6).
enum TYmTrayIconClicks : uint8_t {
  ticNone,
  ticLeftClick,     // left button pressed
  ticLeftDblClick,
  ticLeftClickUp,   // left button released
  ticRightClick,    // right button pressed
  ticRightDblClick,
  ticRightClickUp,  // right button released
};

// The tray's mouse and balloon messages, numbered as the notification area has always numbered them.
enum : int {
  TrayLButtonDown = 513,
  TrayLButtonUp = 514,
  TrayLButtonDblClick = 515,
  TrayRButtonDown = 516,
  TrayRButtonUp = 517,
  TrayRButtonDblClick = 518,
  TrayBalloonHide = 1027,
  TrayBalloonClose = 1028,
  TrayBalloonClick = 1029,
};

// An image list: the pictures IconIndex picks from. Changed() tells its users to look again.
class TYmImageList : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  QList<QIcon> Images;
  void Change() { emit Changed(); }
 signals:
  void Changed();
};

class TYmTrayIcon : public QObject {
  Q_OBJECT

 public:
  // The longest tooltip, in characters.
  static constexpr int MaxTipLength = 127;

  explicit TYmTrayIcon(QObject* owner = nullptr);
  ~TYmTrayIcon() override;

  // ---- properties (defaults as listed)
  bool Animate() const { return animTimer.isActive(); }  // false
  void SetAnimate(bool on);
  bool Enabled() const { return enabled; }  // true: the icon is wanted in the notification area
  void SetEnabled(bool on);
  bool HideOnMinimize = true;
  const QString& Hint() const { return hint; }  // empty
  void SetHint(const QString& text);
  QMenu* PopupMenu() const;  // none
  void SetPopupMenu(QMenu* menu);
  TYmImageList* Icons() const { return icons; }  // none
  void SetIcons(TYmImageList* list);
  int32_t IconIndex() const { return iconIndex; }  // 0
  void SetIconIndex(int32_t index);
  int32_t Interval() const { return animTimer.interval(); }  // 1000 ms
  void SetInterval(int32_t ms) { animTimer.setInterval(ms); }
  TYmTrayIconClicks RestoreOn = ticLeftDblClick;
  TYmTrayIconClicks PopupMenuOn = ticRightClickUp;

  // ---- events
  std::function<void()> OnMinimizeApp, OnRestoreApp;
  std::function<void()> OnLButtonDown, OnLButtonUp, OnLButtonDblClick, OnRButtonDown, OnRButtonUp, OnRButtonDblClick;
  std::function<void()> OnBalloonHintHide, OnBalloonHintClose, OnBalloonHintClick;
  std::function<void()> OnEndSession;
  std::function<void(TYmTrayIcon& sender, bool& allowSessionToEnd)> OnQueryEndSession;

  // The owner has set the properties: picks the picture and, when Enabled, puts the icon up.
  void Loaded();
  // The window that minimising hides and restoring brings back.
  void SetApplicationWindow(QWindow* window);
  QWindow* ApplicationWindow() const;

  // A message of the notification area: runs the click mapping and raises the event.
  void HandleTrayMessage(int message);
  // Restores the window as the RestoreOn click does (nothing while the menu is open).
  void Restore() { RestoreApp(); }

  // ---- what is shown, for the owner and for tests
  QString ShownTip() const { return shownTip; }
  const QIcon& CurrentIcon() const { return currentIcon; }
  bool MenuShowing() const { return menuShowing; }
  // The icon is up and a tray host is there to show it.
  bool Shown() const;
  // Whether the desktop has a notification area now; replaceable by tests.
  std::function<bool()> HostAvailable;

 protected:
  // The notification operations; each raises the event of its name, the six mouse ones after
  // running the click mapping.
  virtual void QueryEndSession(bool& allow);
  virtual void EndSession();
  virtual void LButtonDown();
  virtual void LButtonUp();
  virtual void LButtonDblClick();
  virtual void RButtonDown();
  virtual void RButtonUp();
  virtual void RButtonDblClick();
  virtual void MinimizeApp();
  virtual void RestoreApp();

 private:
  void MapClick(TYmTrayIconClicks click);
  void ShowMenu();
  void Refresh();
  void AnimationStep();
  void WindowStateChanged(Qt::WindowState state);
  static QIcon ApplicationIcon();

  std::unique_ptr<QSystemTrayIcon> tray;
  QIcon currentIcon;
  QString hint;
  QString shownTip;
  QTimer animTimer;
  QPointer<QMenu> popupMenu;
  QPointer<TYmImageList> icons;
  QPointer<QWindow> window;
  QMetaObject::Connection windowConnection;
  int32_t iconIndex = 0;
  bool enabled = true;
  bool loaded = false;
  bool menuShowing = false;
  bool restoring = false;
  bool minimised = false;
};

}  // namespace orvane::desktop
