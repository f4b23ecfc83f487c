// Preloaded (LD_PRELOAD) into a Qt program to time its start-up without
// changing it: once a top-level window is exposed and the event loop is about
// to wait for input, all start-up work is done. The probe then writes the
// CLOCK_MONOTONIC time in nanoseconds and the platform plugin's name to the
// file named by TARNWICK_BENCH_IDLE_REPORT and ends the event loop, so the program exits
// through its normal path.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace {

bool AnyWindowExposed() {
    const auto windows = QGuiApplication::topLevelWindows();
    for (const QWindow* window : windows) {
        if (window->isExposed()) {
            return true;
        }
    }
    return false;
}

void ReportIdle() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (const char* path = std::getenv("TARNWICK_BENCH_IDLE_REPORT")) {
        if (std::FILE* report = std::fopen(path, "w")) {
            std::fprintf(report, "%lld %s\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                         qPrintable(QGuiApplication::platformName()));
            std::fclose(report);
        }
    }
    QCoreApplication::exit(0);
}

// Runs when the application object is constructed; the event dispatcher is
// only certain to exist once the event loop runs, hence the zero timer.
void InstallProbe() {
    if (std::getenv("TARNWICK_BENCH_IDLE_REPORT") == nullptr) {
        return;
    }
    QTimer::singleShot(0, [] {
        auto* dispatcher = QAbstractEventDispatcher::instance();
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [] {
            static bool reported = false;
            if (!reported && AnyWindowExposed()) {
                reported = true;
                ReportIdle();
            }
        });
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallProbe)
