#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>

#include "odbc_sandbox.h"
#include "recording_toolkit.h"
#include "ui/main_form.h"
#include "ui/start_up.h"

using tarnwick::testing::RecordingToolkit;

namespace {

// An object whose event handling fails, as a handler that throws would.
class FailingReceiver : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            throw std::runtime_error("handler failed");
        }
        if (event->type() == QEvent::User + 1) {
            throw 42;
        }
        return QObject::event(event);
    }
};

RecordingToolkit* g_toolkit = nullptr;
ui::Application* g_application = nullptr;

} // namespace

class StartUpTest : public QObject {
    Q_OBJECT

private slots:
    void init() { g_toolkit->boxes.clear(); }

    void applicationFacts() {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Tarnwick"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0.0"));
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("io.github.tarnwick.Tarnwick"));
        QVERIFY(!QApplication::windowIcon().isNull());
    }

    // The window is created as Form1 and shown; closing it ends Run with 0.
    void runUntilTheWindowCloses() {
        bool shownAsForm1 = false;
        QTimer::singleShot(0, [&] {
            shownAsForm1 = Form1 != nullptr && Form1->isVisible();
            if (Form1 != nullptr) {
                Form1->close();
            }
        });
        QCOMPARE(g_application->Run([] { return std::make_unique<TForm1>(); }), 0);
        QVERIFY(shownAsForm1);
        QVERIFY(g_toolkit->boxes.empty());
        QCOMPARE(Form1, nullptr);
    }

    // An exception escaping start-up is shown with its message; the result
    // is still 0.
    void exceptionDuringStartUp() {
        const int result = g_application->Run(
            []() -> std::unique_ptr<TForm1> { throw std::runtime_error("Cannot create the form: out of resources"); });
        QCOMPARE(result, 0);
        QCOMPARE(g_toolkit->boxes.size(), std::size_t(1));
        QCOMPARE(g_toolkit->boxes[0].text, std::string("Cannot create the form: out of resources"));
        QCOMPARE(g_toolkit->boxes[0].caption, std::string("Tarnwick"));
        QCOMPARE(g_toolkit->boxes[0].flags, ui::MB_ICONERROR);
    }

    void unknownExceptionDuringStartUp() {
        QCOMPARE(g_application->Run([]() -> std::unique_ptr<TForm1> { throw 7; }), 0);
        QCOMPARE(g_toolkit->boxes.size(), std::size_t(1));
        QCOMPARE(g_toolkit->boxes[0].caption, std::string("Tarnwick"));
        QVERIFY(!g_toolkit->boxes[0].text.empty());
    }

    // An exception from an event handler inside the loop is shown, and the
    // loop goes on until the window closes.
    void exceptionInsideTheLoop() {
        FailingReceiver receiver;
        bool stillRunning = false;
        QTimer::singleShot(0, [&] {
            QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
            QCoreApplication::postEvent(&receiver, new QEvent(QEvent::Type(QEvent::User + 1)));
            QTimer::singleShot(0, [&] {
                stillRunning = true;
                Form1->close();
            });
        });
        QCOMPARE(g_application->Run([] { return std::make_unique<TForm1>(); }), 0);
        QVERIFY(stillRunning);
        QCOMPARE(g_toolkit->boxes.size(), std::size_t(2));
        QCOMPARE(g_toolkit->boxes[0].text, std::string("handler failed"));
        QCOMPARE(g_toolkit->boxes[0].caption, std::string("Tarnwick"));
        QCOMPARE(g_toolkit->boxes[0].flags, ui::MB_ICONERROR);
        QCOMPARE(g_toolkit->boxes[1].caption, std::string("Tarnwick"));
    }

    void missingDisplay_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("x11");
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<bool>("missing");
        QTest::newRow("X11 desktop") << ""
                                     << ":0"
                                     << "" << false;
        QTest::newRow("Wayland desktop") << ""
                                         << ""
                                         << "wayland-0" << false;
        QTest::newRow("nothing") << ""
                                 << ""
                                 << "" << true;
        QTest::newRow("offscreen") << "offscreen"
                                   << ""
                                   << "" << false;
        QTest::newRow("xcb without DISPLAY") << "xcb"
                                             << ""
                                             << "wayland-0" << true;
        QTest::newRow("xcb with DISPLAY") << "xcb"
                                          << ":99"
                                          << "" << false;
        QTest::newRow("wayland without socket") << "wayland"
                                                << ":0"
                                                << "" << true;
        QTest::newRow("fallback list") << "wayland;xcb"
                                       << ":0"
                                       << "" << false;
        QTest::newRow("plugin arguments") << "xcb:nomitshm"
                                          << ":1"
                                          << "" << false;
    }
    void missingDisplay() {
        QFETCH(QString, platform);
        QFETCH(QString, x11);
        QFETCH(QString, wayland);
        QFETCH(bool, missing);
        std::map<std::string, std::string> environment;
        if (!platform.isEmpty()) {
            environment["QT_QPA_PLATFORM"] = platform.toStdString();
        }
        if (!x11.isEmpty()) {
            environment["DISPLAY"] = x11.toStdString();
        }
        if (!wayland.isEmpty()) {
            environment["WAYLAND_DISPLAY"] = wayland.toStdString();
        }
        const std::optional<std::string> problem = ui::MissingDisplay(environment);
        QCOMPARE(problem.has_value(), missing);
        if (problem) {
            QVERIFY(problem->find("DISPLAY") != std::string::npos);
        }
    }

    // The program itself, with nowhere to show its window, says so and exits
    // instead of crashing; so it does when the display it is given is gone.
    void programWithoutDisplay_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("says");
        QTest::newRow("no display at all") << ""
                                           << ""
                                           << "no display found";
        QTest::newRow("display that is not there") << "xcb"
                                                   << ":987"
                                                   << "cannot open a window";
    }
    void programWithoutDisplay() {
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QFETCH(QString, says);
        const auto result = tarnwick::testing::RunCommand(
            {TARNWICK_PROGRAM},
            {{"QT_QPA_PLATFORM", platform.toStdString()}, {"DISPLAY", display.toStdString()}, {"WAYLAND_DISPLAY", ""}});
        QVERIFY2(result.exitCode == 1, result.output.c_str());
        QVERIFY2(result.output.find(says.toStdString()) != std::string::npos, result.output.c_str());
    }
};

// Run needs the program's own application object, so this test makes it
// instead of QTEST_MAIN's plain one.
int main(int argc, char** argv) {
    RecordingToolkit toolkit;
    ui::Application application(argc, argv, toolkit);
    g_toolkit = &toolkit;
    g_application = &application;
    StartUpTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "start_up_test.moc"
