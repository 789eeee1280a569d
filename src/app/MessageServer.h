#pragma once
// The running player's end of its "Orvane" socket (see mapshare.h): messages from other processes
// reach the main window's handler on the main thread, and each is answered with the handler's
// result.
//
// Threads: main thread only. Nothing here blocks the event loop: every descriptor is non-blocking,
// a client's bytes are read one message (12 bytes) at a time, a wake-up accepts and handles only a
// few connections and messages before it yields, a client that sends nothing for a while or
// misbehaves is dropped, and so is the oldest one when too many are connected. Only processes of
// the same user are served.

#include <QObject>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>

#include "app/mapshare.h"

class QSocketNotifier;
class QTimer;

namespace orvane::app {

class TMessageServer : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<int32_t(const TMessage& message)>;

  static constexpr int kMaxClients = 32;
  static constexpr int kIdleTimeoutMs = 5000;
  static constexpr int kAcceptsPerWake = 16;
  static constexpr int kMessagesPerWake = 8;

  // Serves the listening socket (see ListenWindowSocket); an invalid one serves nothing. A client
  // that has sent no complete message for idleTimeoutMs is dropped.
  TMessageServer(UniqueFd listening, Handler handler, int idleTimeoutMs = kIdleTimeoutMs, QObject* parent = nullptr);
  ~TMessageServer() override;

  int ClientCount() const { return static_cast<int>(clients.size()); }

 private:
  struct Client;
  void AcceptClients();
  void ReadClient(Client* client);
  bool HandleMessage(Client* client);
  void DropClient(Client* client);

  UniqueFd listening;
  Handler handler;
  int idleTimeoutMs;
  std::unique_ptr<QSocketNotifier> acceptNotifier;
  std::list<std::unique_ptr<Client>> clients;  // oldest first
};

}  // namespace orvane::app
