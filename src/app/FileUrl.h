#pragma once
// The file a local file URL names, as the name's bytes. QUrl::toLocalFile goes through QString and
// turns a name that is not UTF-8 (GBK bytes from a Windows zip, Latin-1 from an old disk) into
// replacement characters, a name of no file; the URL's own escapes keep the bytes.

#include <QString>
#include <QUrl>
#include <string>

namespace orvane::app {

// Empty when url is not a local file.
std::string LocalFileBytes(const QUrl& url);

// The file URL of an absolute path given as bytes, the name's bytes percent-escaped.
QString FileUrlText(const std::string& path);

}  // namespace orvane::app
