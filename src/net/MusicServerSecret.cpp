#include "net/MusicServerSecret.h"

#include <fcntl.h>
#include <libsecret/secret.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "text/AtomicFile.h"

namespace orvane::net {
namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = {"org.orvane.MusicServer",
                                      SECRET_SCHEMA_NONE,
                                      {{"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                      0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return &schema;
}

struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() {
    if (error) g_error_free(error);
  }
  std::string Text() const { return error && error->message ? error->message : "keyring error"; }
};

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool Unhex(const std::string& hex, std::string& bytes) {
  if (hex.size() % 2) return false;
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (size_t j = i; j < i + 2; ++j) {
      const char c = hex[j];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      value = value * 16 + d;
    }
    bytes += static_cast<char>(value);
  }
  return true;
}

// Written whole or not at all, and readable by the user alone from its first byte on: the
// temporary file is made 0600 before anything is written to it, whatever the umask says.
bool WritePrivateFile(const std::string& path, const std::string& bytes, std::string& error) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  if (!ok) error = std::strerror(errno);
  ::close(fd);
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    error = std::strerror(errno);
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

class TSecretStore final : public ISecretStore {
 public:
  TSecretStore(std::string dataFolder, bool useKeyring) : file(std::move(dataFolder) + kServerSecretFile), useKeyring(useKeyring) {}

  TSecretResult Store(const TSecretKey& key, const std::string& password) override {
    TSecretResult result;
    if (useKeyring) {
      ErrorHolder error;
      const std::string label = "Orvane: " + key.User + " @ " + key.Address;
      if (secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr,
                                     &error.error, "server", key.Address.c_str(), "user", key.User.c_str(), nullptr)) {
        // A copy left in the file from a time without a keyring goes now.
        ::unlink(file.c_str());
        result.Place = TSecretPlace::Keyring;
        return result;
      }
      result.Error = error.Text();
    }
    std::string error;
    if (WritePrivateFile(file, key.Address + "\n" + key.User + "\n" + Hex(password) + "\n", error)) {
      result.Place = TSecretPlace::File;
      result.Error.clear();
    } else {
      result.Error = error;
    }
    return result;
  }

  TSecretResult Lookup(const TSecretKey& key) override {
    TSecretResult result;
    if (useKeyring) {
      ErrorHolder error;
      gchar* found = secret_password_lookup_sync(Schema(), nullptr, &error.error, "server", key.Address.c_str(), "user",
                                                 key.User.c_str(), nullptr);
      if (found) {
        result.Password = found;
        result.Place = TSecretPlace::Keyring;
        secret_password_free(found);
        return result;
      }
      if (error.error) result.Error = error.Text();
    }
    std::string bytes;
    if (!text::ReadWholeFile(file, bytes)) return result;
    const size_t first = bytes.find('\n');
    const size_t second = first == std::string::npos ? first : bytes.find('\n', first + 1);
    if (second == std::string::npos) return result;
    if (bytes.substr(0, first) != key.Address || bytes.substr(first + 1, second - first - 1) != key.User) return result;
    std::string hex = bytes.substr(second + 1);
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    if (!Unhex(hex, result.Password)) return result;
    result.Place = TSecretPlace::File;
    result.Error.clear();
    return result;
  }

  void Forget(const TSecretKey& key) override {
    if (useKeyring) {
      ErrorHolder error;
      secret_password_clear_sync(Schema(), nullptr, &error.error, "server", key.Address.c_str(), "user",
                                 key.User.c_str(), nullptr);
    }
    ::unlink(file.c_str());
  }

  bool KeyringAvailable() override {
    if (!useKeyring) return false;
    ErrorHolder error;
    // Opening a session makes the service answer (or be started by the bus), not just a proxy.
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error.error);
    if (!service) return false;
    g_object_unref(service);
    return true;
  }

 private:
  const std::string file;
  const bool useKeyring;
};

}  // namespace

std::shared_ptr<ISecretStore> MakeSecretStore(std::string dataFolder, bool useKeyring) {
  return std::make_shared<TSecretStore>(std::move(dataFolder), useKeyring);
}

}  // namespace orvane::net
