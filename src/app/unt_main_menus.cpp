// The close button (it only minimises), the menu button, the main menu and the tray icon.
#include <QMenu>
#include <QWindow>
#include <cmath>

#include "app/unt_main.h"
#include "desktop/YmTray.h"
#include "net/Hosts.h"

namespace orvane::app {

void TNimMain::btn_closeClick() {
  if (mainWindow) mainWindow->showMinimized();
}

QMenu* TNimMain::MainMenu() {
  if (mainMenu) return mainMenu.get();
  mainMenu = std::make_unique<QMenu>();
  QMenu* menu = mainMenu.get();
  menu->setObjectName(QStringLiteral("pm_main"));
  const auto item = [this](QMenu* parent, const char* name, const QString& caption, void (TNimMain::*handler)()) {
    QAction* action = parent->addAction(caption, this, handler);
    action->setObjectName(QString::fromLatin1(name));
  };
  item(menu, "pmm_tallo", tr("Tallo音乐分享平台"), &TNimMain::pmm_talloClick);
  menu->addSeparator();
  // Adds to the music list whichever tab is shown.
  item(menu, "pmf_openfile", tr("添加音乐"), &TNimMain::lbl_openClick);
  item(menu, "pmf_openfolder", tr("添加文件夹"), &TNimMain::pmf_openfolderClick);
  menu->addSeparator();
  item(menu, "pmp_play", tr("播放/暂停"), &TNimMain::btn_playClick);
  item(menu, "pmp_previous", tr("上一首"), &TNimMain::btn_previousClick);
  item(menu, "pmp_next", tr("下一首"), &TNimMain::btn_nextClick);
  menu->addSeparator();
  item(menu, "pmm_server", tr("连接音乐服务器…"), &TNimMain::pmm_serverClick);
  menu->addSeparator();
  QMenu* help = menu->addMenu(tr("帮助"));
  help->setObjectName(QStringLiteral("pmm_help"));
  item(help, "pmm_tl", tr("Tallo官方群"), &TNimMain::pmm_tlClick);
  item(help, "pmm_yj", tr("寻求帮助"), &TNimMain::pmm_yjClick);
  help->addSeparator();
  item(help, "pmm_Orvane", tr("Orvane官网"), &TNimMain::pmm_OrvaneClick);
  menu->addSeparator();
  item(menu, "pmm_close", tr("退出"), &TNimMain::pmm_closeClick);
  return menu;
}

void TNimMain::btnMenuClick(double screenX, double screenY) {
  MainMenu()->popup(QPoint(static_cast<int>(std::lround(screenX)), static_cast<int>(std::lround(screenY))));
}

void TNimMain::pmm_closeClick() {
  FormClose();
  emit closeRequested();
}

void TNimMain::pmm_talloClick() {
  if (services.OpenUrl) services.OpenUrl("http://" + net::SiblingHost());
}

void TNimMain::pmm_tlClick() {
  if (services.OpenUrl) services.OpenUrl("http://" + net::SiblingHost() + "/app/group/group.aspx?gid=42");
}

void TNimMain::pmm_yjClick() {
  if (services.OpenUrl) services.OpenUrl("http://" + net::SiblingHost() + "/app/ask/default.aspx");
}

void TNimMain::pmm_OrvaneClick() {
  if (services.OpenUrl) services.OpenUrl("http://" + net::HomeHost());
}

void TNimMain::RestoreWindow() {
  if (!mainWindow) return;
  // Also a window hidden from the task bar while it was minimised to the tray.
  mainWindow->showNormal();
  mainWindow->raise();
  mainWindow->requestActivate();
}

// trycn_main: restore on a left click, the main menu on a right click, hint "Orvane"; the rest of
// the component's defaults stay.
void TNimMain::CreateTrayIcon() {
  if (!services.CreateTrayIcon || trayIcon) return;
  trayIcon = std::make_unique<desktop::TYmTrayIcon>();
  trayIcon->SetHint(QStringLiteral("Orvane"));
  trayIcon->SetPopupMenu(MainMenu());
  trayIcon->RestoreOn = desktop::ticLeftClick;
  trayIcon->PopupMenuOn = desktop::ticRightClick;
  trayIcon->SetApplicationWindow(mainWindow);
  trayIcon->Loaded();
}

}  // namespace orvane::app
