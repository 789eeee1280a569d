#pragma once
// Where the music server's password is kept: in the desktop's keyring through the Secret Service
// (libsecret). Where no keyring answers, in a file of the data folder that only the user may read
// (mode 0600), and the dialog says so. The password is never written anywhere else.
//
// Threads: every call may block (D-Bus round trips; a locked keyring asks the user to unlock it):
// call them on a worker. One store may be used by several workers at once.

#include <memory>
#include <string>

namespace orvane::net {

// Whose password: the server's address and the user name.
struct TSecretKey {
  std::string Address;
  std::string User;
};

enum class TSecretPlace { Nowhere, Keyring, File };

struct TSecretResult {
  TSecretPlace Place = TSecretPlace::Nowhere;  // where it was stored or found
  std::string Password;                        // what Lookup found
  std::string Error;                           // why it could not be stored or read
};

class ISecretStore {
 public:
  virtual ~ISecretStore() = default;
  virtual TSecretResult Store(const TSecretKey& key, const std::string& password) = 0;
  // Place Nowhere when there is no password for key.
  virtual TSecretResult Lookup(const TSecretKey& key) = 0;
  virtual void Forget(const TSecretKey& key) = 0;
  // A keyring answers (otherwise Store falls back to the file).
  virtual bool KeyringAvailable() = 0;
};

// The file the password falls back to, in dataFolder (which ends in "/").
inline constexpr const char* kServerSecretFile = "MusicServer.secret";

// The keyring with the file as fallback. useKeyring false: the file alone (tests, and desktops
// where the keyring is known to be absent).
std::shared_ptr<ISecretStore> MakeSecretStore(std::string dataFolder, bool useKeyring = true);

}  // namespace orvane::net
