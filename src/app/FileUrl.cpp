#include "app/FileUrl.h"

#include "text/Legacy.h"

namespace orvane::app {

std::string LocalFileBytes(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

QString FileUrlText(const std::string& path) {
  if (text::IsValidUtf8(path)) return QUrl::fromLocalFile(QString::fromStdString(path)).toString();
  const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
  return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

}  // namespace orvane::app
