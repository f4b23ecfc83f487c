#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "dsn/installer.h"
#include "ui/main_form.h"
#include "ui/start_up.h"
#include "ui/toolkit.h"

namespace {

// Qt ends the program with a fatal message (and a core dump) when it cannot
// reach the display it was told to use; say so plainly and exit instead.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "tarnwick: cannot open a window: %s\n", message.toLocal8Bit().constData());
        std::_Exit(EXIT_FAILURE);
    }
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
    // The window makes only System DSN requests; the environment is set for
    // them now, while this is the only thread, and never again.
    dsn::UseSystemDataSourcesForProcess();
    if (const auto problem = ui::MissingDisplay(ui::DisplayEnvironment())) {
        std::fprintf(stderr, "tarnwick: %s\n", problem->c_str());
        return EXIT_FAILURE;
    }
    const QtMessageHandler previous = qInstallMessageHandler(StartupMessageHandler);
    ui::Application application(argc, argv, ui::QtToolkit());
    qInstallMessageHandler(previous);
    return application.Run([] { return std::make_unique<TForm1>(); });
}
