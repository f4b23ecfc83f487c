#pragma once

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <QApplication>

class TForm1;

namespace ui {

class Toolkit;

inline constexpr const char* kApplicationTitle = "Tarnwick";
inline constexpr const char* kApplicationVersion = "1.0.0.0";
inline constexpr const char* kDesktopId = "io.github.tarnwick.Tarnwick";

// The application object: title, version and icon, and the last resort for
// exceptions. An exception that escapes an event handler is shown in a message
// box and the event loop goes on, as the program's toolkit always did.
class Application : public QApplication {
public:
    Application(int& argc, char** argv, Toolkit& toolkit);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an exception's message in an error box captioned with the title.
    void ShowException(const std::string& message);

    // Creates the main window (which becomes Form1), shows it and runs the
    // event loop until it closes. An exception escaping any of that is shown;
    // the result is 0 all the same.
    int Run(const std::function<std::unique_ptr<TForm1>()>& createWindow);

private:
    Toolkit& toolkit_;
};

// Why no window can be opened in this environment (no display to connect
// to), or nothing when one can. `environment` holds the variables that are set.
std::optional<std::string> MissingDisplay(const std::map<std::string, std::string>& environment);

// The variables MissingDisplay looks at, from the process environment.
std::map<std::string, std::string> DisplayEnvironment();

} // namespace ui
