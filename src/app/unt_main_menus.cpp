// The close button (it only minimises), the menu button and the main menu.
#include <QMenu>
#include <QWindow>
#include <cmath>

#include "app/unt_main.h"
#include "net/Hosts.h"

namespace orvane::app {

void TNimMain::btn_closeClick() {
  if (mainWindow) mainWindow->showMinimized();
}

QMenu* TNimMain::MainMenu() {
  if (mainMenu) return mainMenu.get();
  mainMenu = std::make_unique<QMenu>();
  QMenu* menu = mainMenu.get();
  menu->addAction(tr("Tallo音乐分享平台"), this, &TNimMain::pmm_talloClick);
  menu->addSeparator();
  menu->addAction(tr("添加音乐"), this, &TNimMain::lbl_openClick);
  menu->addSeparator();
  menu->addAction(tr("播放/暂停"), this, &TNimMain::btn_playClick);
  menu->addAction(tr("上一首"), this, &TNimMain::btn_previousClick);
  menu->addAction(tr("下一首"), this, &TNimMain::btn_nextClick);
  menu->addSeparator();
  QMenu* help = menu->addMenu(tr("帮助"));
  help->addAction(tr("Tallo官方群"), this, &TNimMain::pmm_tlClick);
  help->addAction(tr("寻求帮助"), this, &TNimMain::pmm_yjClick);
  help->addSeparator();
  help->addAction(tr("Orvane官网"), this, &TNimMain::pmm_OrvaneClick);
  menu->addSeparator();
  menu->addAction(tr("退出"), this, &TNimMain::pmm_closeClick);
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
  mainWindow->showNormal();
  mainWindow->raise();
  mainWindow->requestActivate();
}

}  // namespace orvane::app
