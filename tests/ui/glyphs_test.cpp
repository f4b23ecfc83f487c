#include <stdexcept>

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QSet>
#include <QTest>

#include "ui/glyphs.h"

class GlyphsTest : public QObject {
    Q_OBJECT

private slots:
    void glyphs_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QColor>("drawingColour");
        QTest::newRow("create: green check mark") << QString::fromLatin1(ui::kCreateGlyph) << QColor(0, 128, 0);
        QTest::newRow("cancel: red prohibition sign") << QString::fromLatin1(ui::kCancelGlyph) << QColor(255, 0, 0);
        QTest::newRow("close: door") << QString::fromLatin1(ui::kCloseGlyph) << QColor(128, 0, 0);
    }
    // Each glyph is two 16 x 16 frames; the bottom-left pixel's colour is
    // transparent everywhere and nothing else is; the disabled frame is the
    // drawing in grey, without its colour.
    void glyphs() {
        QFETCH(QString, path);
        QFETCH(QColor, drawingColour);

        const QImage strip(path);
        QCOMPARE(strip.size(), QSize(32, 16));
        QVERIFY(strip.colorCount() <= 16);
        const QRgb key = strip.pixel(0, 15);

        const QIcon icon = ui::LoadGlyph(path);
        const QImage normal =
            icon.pixmap(QSize(16, 16), QIcon::Normal).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage disabled =
            icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(normal.size(), QSize(16, 16));
        QCOMPARE(disabled.size(), QSize(16, 16));
        QVERIFY(normal != disabled);

        int drawn = 0;
        bool colourInDisabled = false;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const bool normalKey = strip.pixel(x, y) == key;
                const bool disabledKey = strip.pixel(16 + x, y) == key;
                QCOMPARE(qAlpha(normal.pixel(x, y)), normalKey ? 0 : 255);
                QCOMPARE(qAlpha(disabled.pixel(x, y)), disabledKey ? 0 : 255);
                drawn += normalKey ? 0 : 1;
                colourInDisabled = colourInDisabled || QColor(disabled.pixel(x, y)) == drawingColour;
            }
        }
        QCOMPARE(qAlpha(normal.pixel(0, 15)), 0);
        QCOMPARE(qAlpha(disabled.pixel(0, 15)), 0);
        QVERIFY(drawn > 16);
        bool colourInNormal = false;
        for (int y = 0; y < 16 && !colourInNormal; ++y) {
            for (int x = 0; x < 16 && !colourInNormal; ++x) {
                colourInNormal =
                    qAlpha(normal.pixel(x, y)) == 255 && QColor(normal.pixel(x, y)).rgb() == drawingColour.rgb();
            }
        }
        QVERIFY(colourInNormal);
        QVERIFY(!colourInDisabled);
    }

    // The transparent colour is whatever the bottom-left pixel holds, even
    // where that colour is used elsewhere and the other corners differ.
    void transparentColourIsBottomLeft() {
        QImage image(3, 2, QImage::Format_RGB32);
        image.fill(QColor(255, 255, 255));
        image.setPixel(0, 1, qRgb(128, 128, 0));
        image.setPixel(2, 0, qRgb(128, 128, 0));
        image.setPixel(1, 1, qRgb(128, 128, 1));
        const QImage result = ui::WithTransparentColour(image);
        QCOMPARE(qAlpha(result.pixel(0, 1)), 0);
        QCOMPARE(qAlpha(result.pixel(2, 0)), 0);
        QCOMPARE(qAlpha(result.pixel(1, 1)), 255);
        QCOMPARE(qAlpha(result.pixel(0, 0)), 255);
        QCOMPARE(result.pixel(0, 0), qRgb(255, 255, 255));
    }

    void unreadableGlyphThrows() {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, ui::LoadGlyph(QStringLiteral(":/images/no_such_glyph.xpm")));
        // A square image is no two-frame strip.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, ui::LoadGlyph(QStringLiteral(":/images/tarnwick_16.xpm")));
    }

    void applicationIcon() {
        const QIcon icon = ui::ApplicationIcon();
        const QList<QSize> sizes = icon.availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)));
        QVERIFY(sizes.contains(QSize(16, 16)));
        for (int side : {16, 32}) {
            const QImage image = icon.pixmap(QSize(side, side)).toImage();
            QCOMPARE(image.size(), QSize(side, side));
            // Dark cyan ground, black letters, a red frame, blue diamonds;
            // sixteen colours at most.
            QSet<QRgb> colours;
            for (int y = 0; y < side; ++y) {
                for (int x = 0; x < side; ++x) {
                    colours.insert(image.pixel(x, y) | 0xFF000000U);
                }
            }
            QVERIFY(colours.contains(qRgb(0, 128, 128)));
            QVERIFY(colours.contains(qRgb(0, 0, 0)));
            QVERIFY(colours.contains(qRgb(255, 0, 0)));
            QVERIFY(colours.contains(qRgb(0, 0, 255)));
            QVERIFY(colours.size() <= 16);
        }
    }
};

QTEST_MAIN(GlyphsTest)
#include "glyphs_test.moc"
