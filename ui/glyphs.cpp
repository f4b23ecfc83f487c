#include "ui/glyphs.h"

#include <stdexcept>

#include <QImageReader>
#include <QPixmap>

namespace ui {

namespace {

// The images are XPM files, which Qt reads itself. Left to guess the format,
// it would load every image-format plugin first, which shows in the start-up
// time.
QImage ReadXpm(const QString& path) {
    QImageReader reader(path, "xpm");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

} // namespace

QImage WithTransparentColour(const QImage& image) {
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    if (result.isNull()) {
        return result;
    }
    const QRgb key = result.pixel(0, result.height() - 1);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            if (line[x] == key) {
                line[x] = qRgba(0, 0, 0, 0);
            }
        }
    }
    return result;
}

QIcon LoadGlyph(const QString& path) {
    const QImage strip = ReadXpm(path);
    if (strip.isNull() || strip.width() != 2 * strip.height()) {
        throw std::runtime_error("cannot read the button glyph " + path.toStdString());
    }
    const QImage transparent = WithTransparentColour(strip);
    const int side = strip.height();
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(transparent.copy(0, 0, side, side)), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(transparent.copy(side, 0, side, side)), QIcon::Disabled);
    return icon;
}

QIcon ApplicationIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(ReadXpm(QStringLiteral(":/images/tarnwick_32.xpm"))));
    icon.addPixmap(QPixmap::fromImage(ReadXpm(QStringLiteral(":/images/tarnwick_16.xpm"))));
    return icon;
}

} // namespace ui
