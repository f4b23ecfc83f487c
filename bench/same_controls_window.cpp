// The second yardstick for the program's start-up and memory: a window built
// in code with the same controls, texts, fonts and size as the program's
// form, so that Qt's own work of drawing text and styling those controls is
// in both figures, leaving the program's own share (its form description,
// glyphs, start-up checks) as the difference.
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QWidget>

namespace {

template <typename Control> Control* Place(QWidget* window, int x, int y, int width, int height) {
    auto* control = new Control(window);
    control->setGeometry(x, y, width, height);
    return control;
}

QPushButton* Button(QWidget* window, const char* text, int x, int y, int width, int height) {
    auto* button = Place<QPushButton>(window, x, y, width, height);
    button->setText(text);
    return button;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle("Create System DSN");
    window.setFont(QFont("MS Sans Serif", 8));
    window.setFixedSize(257, 250);

    struct Field {
        const char* label;
        int labelWidth;
        int y;
        int editWidth;
    };
    for (const Field& field : {Field{"Database File Name", 96, 0, 121}, Field{"DSN Name", 54, 40, 121},
                               Field{"Directory for Database", 106, 88, 185}}) {
        auto* label = Place<QLabel>(&window, 8, field.y, field.labelWidth, 13);
        label->setText(field.label);
        label->setBuddy(Place<QLineEdit>(&window, 8, field.y + 16, field.editWidth, 21));
    }
    Button(&window, "Browse", 136, 16, 49, 21);
    Button(&window, "Browse", 200, 104, 49, 21);
    const QFont buttonFont("Times New Roman", 10);
    Button(&window, "Create", 8, 136, 75, 25)->setFont(buttonFont);
    Button(&window, "Close", 92, 136, 75, 25);
    Button(&window, "Cancel", 176, 136, 75, 25)->setFont(buttonFont);
    auto* log = Place<QPlainTextEdit>(&window, 0, 164, 257, 67);
    log->setReadOnly(true);
    Place<QStatusBar>(&window, 0, 231, 257, 19)->setSizeGripEnabled(false);

    window.show();
    return application.exec();
}
