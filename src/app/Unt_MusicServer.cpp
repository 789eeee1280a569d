// Threads: the connection test and the keyring check run on workers of the dialog's host with
// their own copies; everything else runs on the main thread (see Unt_MusicServer.h).
#include "app/Unt_MusicServer.h"

#include <QGuiApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QScreen>

#include "lyrics/SceneWindow.h"
#include "net/MusicServerSecret.h"
#include "net/WorkerHost.h"

namespace orvane::app {
namespace {

class TConnectionTest : public net::TWorker {
 public:
  explicit TConnectionTest(net::TMusicServerSession session) : client(std::move(session)) {}
  void Execute() override { Error = client.Connect(); }

  net::TSubsonicClient client;
  net::TServerError Error;
};

class TKeyringCheck : public net::TWorker {
 public:
  explicit TKeyringCheck(std::shared_ptr<net::ISecretStore> secrets) : Secrets(std::move(secrets)) {}
  void Execute() override { Available = Secrets->KeyringAvailable(); }

  std::shared_ptr<net::ISecretStore> Secrets;
  bool Available = true;
};

// The host part of an address: what names a server that does not name itself.
QString HostOf(const std::string& address) {
  const size_t start = address.find("://");
  const size_t from = start == std::string::npos ? 0 : start + 3;
  const size_t end = address.find('/', from);
  return QString::fromStdString(address.substr(from, end == std::string::npos ? std::string::npos : end - from));
}

}  // namespace

QString TNimMusicServer::ErrorText(const net::TServerError& error) {
  using net::HttpFailure;
  using net::TServerFailure;
  const QString detail = QString::fromStdString(error.Message);
  switch (error.Kind) {
    case TServerFailure::None:
      return {};
    case TServerFailure::NotConfigured:
      return tr("还没有设置服务器的地址和用户名");
    case TServerFailure::NoAnswer:
      switch (error.Http) {
        case HttpFailure::Resolve:
          return tr("找不到这个服务器地址");
        case HttpFailure::Connect:
          return tr("服务器没有回应，请检查地址、端口和服务器是否在运行");
        case HttpFailure::Timeout:
          return tr("服务器长时间没有回应");
        case HttpFailure::Tls:
          return tr("安全连接失败（%1）").arg(detail);
        default:
          return detail.isEmpty() ? tr("服务器没有回应") : tr("连接失败（%1）").arg(detail);
      }
    case TServerFailure::NotAServer:
      return error.HttpCode >= 400 ? tr("这个地址不是音乐服务器（HTTP %1）").arg(error.HttpCode)
                                   : tr("这个地址不是音乐服务器");
    case TServerFailure::Api:
      break;
  }
  switch (error.Code) {
    case 10:
      return tr("请求缺少必需的参数，服务器不接受这种登录方式");
    case 20:
      return tr("服务器要求更新的客户端");
    case 30:
      return tr("服务器的版本太旧，请升级服务器");
    case 40:
      return tr("用户名或密码错误");
    case 41:
      return tr("服务器不接受令牌登录");
    case 50:
      return tr("这个用户没有权限这样做");
    case 70:
      return tr("服务器上找不到要的内容");
    default:
      return detail.isEmpty() ? tr("服务器出错（错误 %1）").arg(error.Code) : tr("服务器出错：%1").arg(detail);
  }
}

QString TNimMusicServer::ConnectedText(const net::TMusicServerSession& session) {
  QString name = QString::fromStdString(session.ServerType);
  if (!name.isEmpty() && !session.ServerVersion.empty()) name += QLatin1Char(' ') + QString::fromStdString(session.ServerVersion);
  if (name.isEmpty()) name = HostOf(session.Address);
  return tr("连接成功：%1，API %2").arg(name, QString::fromStdString(session.ApiVersion));
}

TNimMusicServer::TNimMusicServer(TServices services, const net::TMusicServerSession& login, bool scrobble,
                                 QObject* parent)
    : QObject(parent),
      services(std::move(services)),
      address(QString::fromStdString(login.Address)),
      user(QString::fromStdString(login.User)),
      password(QString::fromStdString(login.Password)),
      scrobble(scrobble),
      connected(login.Configured()),
      workers(std::make_unique<net::TWorkerHost>()) {}

TNimMusicServer::~TNimMusicServer() {
  closedDown = true;
  workers.reset();
  window.reset();
}

void TNimMusicServer::Show() {
  if (closedDown) return;
  if (!window) {
    QQmlEngine* engine = services.SceneEngine ? services.SceneEngine() : nullptr;
    window = engine ? lyrics::CreateSceneWindow(*engine, QStringLiteral("MusicServer.qml"), this)
                    : std::make_unique<QQuickWindow>();
    window->setFlags(Qt::Dialog | Qt::FramelessWindowHint);
    window->setModality(Qt::ApplicationModal);
    window->setTitle(tr("连接音乐服务器"));
    window->resize(ClientWidth, ClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect desk = screen->availableGeometry();
      window->setPosition(desk.center() - QPoint(ClientWidth / 2, ClientHeight / 2));
    }
    // The window manager's close closes the dialog as its own button does.
    connect(window.get(), &QWindow::visibleChanged, this, [this](bool shown) {
      if (!shown && !closedDown) Close();
    });
    CheckKeyring();
  }
  window->show();
  window->requestActivate();
}

void TNimMusicServer::Close() {
  if (closedDown) return;
  closedDown = true;
  if (window) window->hide();
  emit closed();
}

// Said before the user saves, so nobody is surprised to find the password in a file.
void TNimMusicServer::CheckKeyring() {
  if (!services.Secrets) return;
  auto check = std::make_shared<TKeyringCheck>(services.Secrets);
  workers->Start(check, [this](TKeyringCheck& done) {
    if (closedDown || done.Available) return;
    keyringText = tr("没有可用的密钥环：密码将保存在只有你能读取的文件中");
    emit keyringChanged();
  });
}

void TNimMusicServer::SetAddress(const QString& text) {
  if (text == address) return;
  address = text;
  emit fieldsChanged();
}

void TNimMusicServer::SetUser(const QString& text) {
  if (text == user) return;
  user = text;
  emit fieldsChanged();
}

void TNimMusicServer::SetPassword(const QString& text) {
  if (text == password) return;
  password = text;
  emit fieldsChanged();
}

void TNimMusicServer::SetBusy(bool on) {
  if (on == busy) return;
  busy = on;
  emit busyChanged();
}

void TNimMusicServer::SetStatus(const QString& text, bool error) {
  if (text == statusText && error == statusIsError) return;
  statusText = text;
  statusIsError = error;
  emit statusChanged();
}

bool TNimMusicServer::TypedLogin(net::TMusicServerSession& login) {
  std::string why;
  login.Address = net::NormaliseServerAddress(address.toStdString(), &why);
  login.User = user.trimmed().toStdString();
  login.Password = password.toStdString();
  if (login.Address.empty()) {
    SetStatus(why == "userinfo" ? tr("地址里不能带用户名或密码，请填在下面")
                                : tr("请填写服务器的地址，例如 http://192.168.1.2:4533"),
              true);
    return false;
  }
  if (login.User.empty()) {
    SetStatus(tr("请填写用户名"), true);
    return false;
  }
  return true;
}

void TNimMusicServer::btnTestClick() {
  if (closedDown || busy) return;
  net::TMusicServerSession login;
  if (!TypedLogin(login)) return;
  auto test = std::make_shared<TConnectionTest>(login);
  if (!workers->Start(test, [this](TConnectionTest& done) {
        SetBusy(false);
        if (done.Error.Ok()) SetStatus(ConnectedText(done.client.Session()), false);
        else SetStatus(ErrorText(done.Error), true);
        emit testFinished();
      }))
    return;
  SetBusy(true);
  SetStatus(tr("正在连接…"), false);
}

void TNimMusicServer::btnSaveClick() {
  if (closedDown || busy || !services.Save) return;
  net::TMusicServerSession login;
  if (!TypedLogin(login)) return;
  SetBusy(true);
  SetStatus(tr("正在保存…"), false);
  QPointer<TNimMusicServer> self(this);
  services.Save(login.Address, login.User, login.Password, scrobble, [self](const net::TSecretResult& result) {
    if (!self || self->closedDown) return;
    self->SetBusy(false);
    self->connected = true;
    emit self->fieldsChanged();
    switch (result.Place) {
      case net::TSecretPlace::Keyring:
        self->Close();
        return;
      case net::TSecretPlace::File:
        self->SetStatus(tr("已保存。没有可用的密钥环，密码保存在只有你能读取的文件中"), false);
        return;
      case net::TSecretPlace::Nowhere:
        self->SetStatus(tr("密码没有保存成功（%1）：这次可以使用，下次启动时需要重新输入")
                            .arg(QString::fromStdString(result.Error)),
                        true);
        return;
    }
  });
}

void TNimMusicServer::btnDisconnectClick() {
  if (closedDown) return;
  if (services.Disconnect) services.Disconnect();
  Close();
}

void TNimMusicServer::chkScrobbleClick() {
  scrobble = !scrobble;
  emit fieldsChanged();
}

}  // namespace orvane::app
