// Renders the application icon's SVG to PNG files of the hicolor theme's sizes at build time:
//   orvane_render_icon <icon.svg> <output folder> <size>…   →  <output folder>/<size>/orvane.png
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <icon.svg> <output folder> <size>...\n", argv[0]);
    return 2;
  }
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  if (!svg.isValid()) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  const QString output = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0) return 2;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    const QString folder = output + QLatin1Char('/') + QString::number(size);
    if (!QDir().mkpath(folder) || !image.save(folder + QStringLiteral("/orvane.png"))) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
