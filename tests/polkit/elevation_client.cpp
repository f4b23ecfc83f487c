// The program's installer path without the window, for the real-polkit test:
// CreateDSN for dates.mdb with the installer the program uses by default and,
// on a refusal, the error records, every log line printed as the log shows it.
// Exit 0 when the data source was created, 1 when it was refused.
#include <iostream>
#include <string>

#include <QCoreApplication>

#include "dsn/create_dsn.h"
#include "system_dsn_client/elevating_installer.h"

namespace {

class PrintingWindow final : public dsn::WindowOperations {
public:
    void AppendLogLine(const std::string& line) override {
        // Error records end in their own line feed; the others get one here.
        std::cout << line << (line.ends_with('\n') ? "" : "\n") << std::flush;
    }

    void DisableCancel() override {}
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " DSN DIRECTORY\n";
        return 2;
    }
    // The installer runs pkexec with QProcess, as in the window.
    const QCoreApplication application(argc, argv);
    PrintingWindow window;
    dsn::ElevatingInstaller installer;
    if (CreateDSN(dsn::AccessDriverName, "dates.mdb", argv[1], argv[2], window, installer) == dsn::DsnCreated) {
        return 0;
    }
    DisplayODBCErrors(window, installer);
    return 1;
}
