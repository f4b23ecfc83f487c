#include "ui/start_up.h"

#include <cstdlib>

#include "ui/glyphs.h"
#include "ui/main_form.h"
#include "ui/toolkit.h"

namespace ui {

namespace {

std::string Get(const std::map<std::string, std::string>& environment, const std::string& name) {
    const auto found = environment.find(name);
    return found == environment.end() ? std::string() : found->second;
}

} // namespace

Application::Application(int& argc, char** argv, Toolkit& toolkit) : QApplication(argc, argv), toolkit_(toolkit) {
    setApplicationName(QString::fromLatin1(kApplicationTitle));
    setApplicationVersion(QString::fromLatin1(kApplicationVersion));
    setDesktopFileName(QString::fromLatin1(kDesktopId));
    setWindowIcon(ApplicationIcon());
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error.what());
    } catch (...) {
        ShowException("An unknown error occurred.");
    }
    return true;
}

void Application::ShowException(const std::string& message) {
    toolkit_.MessageBox(message, kApplicationTitle, MB_ICONERROR);
}

int Application::Run(const std::function<std::unique_ptr<TForm1>()>& createWindow) {
    std::unique_ptr<TForm1> window;
    try {
        window = createWindow();
        Form1 = window.get();
        window->show();
        exec();
    } catch (const std::exception& error) {
        ShowException(error.what());
    } catch (...) {
        ShowException("An unknown error occurred.");
    }
    return 0;
}

std::optional<std::string> MissingDisplay(const std::map<std::string, std::string>& environment) {
    const std::string platform = Get(environment, "QT_QPA_PLATFORM");
    const bool hasX = !Get(environment, "DISPLAY").empty();
    const bool hasWayland = !Get(environment, "WAYLAND_DISPLAY").empty();
    if (platform.empty()) {
        if (hasX || hasWayland) {
            return std::nullopt;
        }
        return "no display found: neither DISPLAY nor WAYLAND_DISPLAY is set. Start Tarnwick from a desktop "
               "session, or under Xvfb (xvfb-run tarnwick).";
    }
    // The platform may name fallbacks ("wayland;xcb"): the first usable one wins.
    std::string::size_type start = 0;
    while (start <= platform.size()) {
        const auto end = platform.find(';', start);
        const std::string name = platform.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string plugin = name.substr(0, name.find(':'));
        if (plugin == "xcb" ? hasX : plugin.rfind("wayland", 0) == 0 ? hasWayland : !plugin.empty()) {
            return std::nullopt;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return "no display found for QT_QPA_PLATFORM=" + platform +
           " (DISPLAY or WAYLAND_DISPLAY is not set). Start Tarnwick from a desktop session, or under Xvfb "
           "(xvfb-run tarnwick).";
}

std::map<std::string, std::string> DisplayEnvironment() {
    std::map<std::string, std::string> environment;
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (const char* value = std::getenv(name); value != nullptr) {
            environment[name] = value;
        }
    }
    return environment;
}

} // namespace ui
