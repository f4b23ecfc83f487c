#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace ui {

// Resource paths of the images bundled with the program.
inline constexpr const char* kCreateGlyph = ":/images/create_glyph.xpm";
inline constexpr const char* kCancelGlyph = ":/images/cancel_glyph.xpm";
inline constexpr const char* kCloseGlyph = ":/images/close_glyph.xpm";

// The image with every pixel of its bottom-left pixel's colour made fully
// transparent, as bitmap buttons treat their glyphs.
QImage WithTransparentColour(const QImage& image);

// A glyph strip of two square frames side by side, normal then disabled, as an
// icon that shows the second frame when its button is disabled. Throws
// std::runtime_error when the image cannot be read.
QIcon LoadGlyph(const QString& path);

// The program's icon, 32 x 32 and 16 x 16.
QIcon ApplicationIcon();

} // namespace ui
