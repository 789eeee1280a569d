#include "app/MessageServer.h"

#include <QSocketNotifier>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "app/OrvaneApplication.h"

namespace orvane::app {

struct TMessageServer::Client {
  UniqueFd fd;
  unsigned char bytes[kMessageBytes] = {};
  size_t filled = 0;
  bool busy = false;  // its message is being handled (the handler may run a nested event loop)
  std::unique_ptr<QSocketNotifier> notifier;
  std::unique_ptr<QTimer> idle;
};

namespace {

bool SameUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::getuid();
}

}  // namespace

TMessageServer::TMessageServer(UniqueFd listeningFd, Handler handler, int idleTimeoutMs, QObject* parent)
    : QObject(parent), listening(std::move(listeningFd)), handler(std::move(handler)), idleTimeoutMs(idleTimeoutMs) {
  if (!listening.Valid()) return;
  acceptNotifier = std::make_unique<QSocketNotifier>(listening.Get(), QSocketNotifier::Read);
  connect(acceptNotifier.get(), &QSocketNotifier::activated, this, &TMessageServer::AcceptClients);
}

TMessageServer::~TMessageServer() = default;

void TMessageServer::AcceptClients() {
  for (int i = 0; i < kAcceptsPerWake; ++i) {
    UniqueFd fd(::accept4(listening.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.Valid()) {
      if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) return;
      // Out of descriptors: the waiting connection stays ready, so wait a little instead of
      // waking again at once.
      acceptNotifier->setEnabled(false);
      QTimer::singleShot(100, this, [this] { acceptNotifier->setEnabled(true); });
      return;
    }
    if (!SameUser(fd.Get())) continue;
    // Room for the newcomer: a well-behaved client sends at once, so the one connected longest is
    // the likeliest to be idle.
    if (static_cast<int>(clients.size()) >= kMaxClients) {
      for (auto& old : clients) {
        if (!old->busy) {
          DropClient(old.get());
          break;
        }
      }
    }
    auto client = std::make_unique<Client>();
    Client* raw = client.get();
    raw->fd = std::move(fd);
    raw->notifier = std::make_unique<QSocketNotifier>(raw->fd.Get(), QSocketNotifier::Read);
    connect(raw->notifier.get(), &QSocketNotifier::activated, this, [this, raw] { ReadClient(raw); });
    raw->idle = std::make_unique<QTimer>();
    raw->idle->setSingleShot(true);
    raw->idle->setInterval(idleTimeoutMs);
    connect(raw->idle.get(), &QTimer::timeout, this, [this, raw] { DropClient(raw); });
    raw->idle->start();
    clients.push_back(std::move(client));
  }
}

void TMessageServer::ReadClient(Client* client) {
  for (int handled = 0; handled < kMessagesPerWake;) {
    const ssize_t n = ::recv(client->fd.Get(), client->bytes + client->filled, kMessageBytes - client->filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) {  // the client went (a short message is dropped with it) or failed
      DropClient(client);
      return;
    }
    client->filled += static_cast<size_t>(n);
    if (client->filled < kMessageBytes) continue;
    client->filled = 0;
    ++handled;
    if (!HandleMessage(client)) return;
  }
}

// Handles the client's complete message and answers it. False when the client is gone.
bool TMessageServer::HandleMessage(Client* client) {
  const TMessage message = DecodeMessage(client->bytes);
  client->busy = true;
  client->notifier->setEnabled(false);
  client->idle->stop();
  int32_t answer = 0;
  bool answered = true;
  try {
    answer = handler(message);
  } catch (...) {
    // As for any handler of the window: the exception is dropped and the player goes on; the
    // client gets no answer.
    OrvaneApplication::ApplicationEventsException();
    answered = false;
  }
  client->busy = false;
  unsigned char bytes[4];
  for (int b = 0; b < 4; ++b) bytes[b] = static_cast<unsigned char>(static_cast<uint32_t>(answer) >> (8 * b));
  // A client that does not take its answer at once is not waited for.
  if (!answered || ::send(client->fd.Get(), bytes, sizeof bytes, MSG_DONTWAIT | MSG_NOSIGNAL) != sizeof bytes) {
    DropClient(client);
    return false;
  }
  client->notifier->setEnabled(true);
  client->idle->start();
  return true;
}

void TMessageServer::DropClient(Client* client) {
  for (auto it = clients.begin(); it != clients.end(); ++it) {
    if (it->get() != client) continue;
    client->notifier->setEnabled(false);
    client->idle->stop();
    // Deleted later: this may run inside one of the client's own signals.
    client->notifier.release()->deleteLater();
    client->idle.release()->deleteLater();
    clients.erase(it);
    return;
  }
}

}  // namespace orvane::app
