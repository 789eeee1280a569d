#pragma once
// TNimMusicServer: the dialog "连接音乐服务器", in the look of the lyric search dialog. The user
// types the server's address, a user name and a password; "测试连接" asks the server and shows its
// name and API version or why it refused, "保存" keeps the login (the password in the keyring),
// "断开" forgets it; "记录播放次数" says whether plays are reported to the server. The scene is
// MusicServer.qml; everything it does is here.
//
// Threads: the dialog lives on the main thread. The connection test and the keyring check run on
// workers of its own host; closing the dialog drops what they deliver later.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "net/MusicServer.h"

class QQmlEngine;
class QQuickWindow;

namespace orvane::net {
class ISecretStore;
class TWorkerHost;
struct TSecretResult;
}  // namespace orvane::net

namespace orvane::app {

class TNimMusicServer : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString edt_Address READ Address WRITE SetAddress NOTIFY fieldsChanged)
  Q_PROPERTY(QString edt_User READ User WRITE SetUser NOTIFY fieldsChanged)
  Q_PROPERTY(QString edt_Password READ Password WRITE SetPassword NOTIFY fieldsChanged)
  Q_PROPERTY(bool chkScrobble READ Scrobble NOTIFY fieldsChanged)
  Q_PROPERTY(bool connected READ Connected NOTIFY fieldsChanged)
  Q_PROPERTY(bool busy READ Busy NOTIFY busyChanged)
  Q_PROPERTY(QString statusText READ StatusText NOTIFY statusChanged)
  Q_PROPERTY(bool statusIsError READ StatusIsError NOTIFY statusChanged)
  Q_PROPERTY(QString keyringText READ KeyringText NOTIFY keyringChanged)

 public:
  static constexpr int ClientWidth = 398;
  static constexpr int ClientHeight = 238;

  struct TServices {
    std::shared_ptr<net::ISecretStore> Secrets;  // null: no keyring check
    std::function<QQmlEngine*()> SceneEngine;    // null or returning null: no window (tests)
    // "保存": keep the login; done(result) tells where the password went.
    std::function<void(const std::string& address, const std::string& user, const std::string& password, bool scrobble,
                       std::function<void(const net::TSecretResult&)> done)>
        Save;
    std::function<void()> Disconnect;  // "断开"
  };

  // address, user, password: the login as it is saved (empty when there is none).
  TNimMusicServer(TServices services, const net::TMusicServerSession& login, bool scrobble, QObject* parent = nullptr);
  ~TNimMusicServer() override;

  // What the user reads about a failed exchange with the music server.
  static QString ErrorText(const net::TServerError& error);
  // What a successful connection says of the server: its name (or its host) and API version.
  static QString ConnectedText(const net::TMusicServerSession& session);

  // Creates the window, centred on the screen, and shows it; asks whether a keyring answers.
  void Show();
  void Close();
  bool IsClosed() const { return closedDown; }

  // ---- Called by the scene.
  Q_INVOKABLE void btnTestClick();
  Q_INVOKABLE void btnSaveClick();
  Q_INVOKABLE void btnDisconnectClick();
  Q_INVOKABLE void chkScrobbleClick();
  Q_INVOKABLE void CloseButtonClick() { Close(); }

  QString Address() const { return address; }
  void SetAddress(const QString& text);
  QString User() const { return user; }
  void SetUser(const QString& text);
  QString Password() const { return password; }
  void SetPassword(const QString& text);
  bool Scrobble() const { return scrobble; }
  bool Connected() const { return connected; }
  bool Busy() const { return busy; }
  QString StatusText() const { return statusText; }
  bool StatusIsError() const { return statusIsError; }
  QString KeyringText() const { return keyringText; }
  QQuickWindow* Window() const { return window.get(); }

 signals:
  void fieldsChanged();
  void busyChanged();
  void statusChanged();
  void keyringChanged();
  void closed();
  // A connection test ended (for tests).
  void testFinished();

 private:
  // The typed login; empty address (with the reason shown) when it cannot be used.
  bool TypedLogin(net::TMusicServerSession& login);
  void SetBusy(bool on);
  void SetStatus(const QString& text, bool error);
  void CheckKeyring();

  TServices services;
  QString address;
  QString user;
  QString password;
  bool scrobble = true;
  bool connected = false;
  bool busy = false;
  QString statusText;
  bool statusIsError = false;
  QString keyringText;
  bool closedDown = false;
  std::unique_ptr<QQuickWindow> window;
  std::unique_ptr<net::TWorkerHost> workers;  // first to go: late results are dropped
};

}  // namespace orvane::app
