#pragma once

#include <cstdint>

#include "dsn/attribute_list.h"
#include "dsn/error_messages.h"
#include "dsn/installer.h"
#include "dsn/window_operations.h"

namespace dsn {

// The driver every data source of this program is registered for.
inline constexpr char AccessDriverName[] = "Microsoft Access Driver (*.mdb)";

// The installer's request that adds a machine-wide data source
// (ODBC_ADD_SYS_DSN).
inline constexpr std::uint16_t AddSystemDsnRequest = 4;

// Result codes of CreateDSN, indexes into ErrorMessages.
inline constexpr std::int8_t DsnCreated = 0;
inline constexpr std::int8_t DsnRefused = 10;

// How many error records DisplayODBCErrors reads at most. unixODBC keeps the
// newest 10; the bound only ends the loop when an installer never says "no
// more records".
inline constexpr std::uint16_t MaxErrorRecords = 64;

// The capacity DisplayODBCErrors gives for a record's text. unixODBC writes
// one byte more (the terminator after a full text), so the buffer holds 301.
inline constexpr std::uint16_t ErrorTextCapacity = 300;

} // namespace dsn

// Asks the installer to add a System DSN for `driver` from the user's three
// values, logging its progress to the window: "Database name: ...", "DSN: ...",
// "Creating System DSN..." and, after a success, "System DSN created
// successfully!", which also disables Cancel. Returns dsn::DsnCreated (0), or
// dsn::DsnRefused (10) when the installer refused; its error records then
// belong to this request and DisplayODBCErrors lists them. The values go to
// the installer verbatim; a null one counts as empty.
std::int8_t CreateDSN(const char* driver, const char* database, const char* dsnName, const char* directory,
                      dsn::WindowOperations& window, dsn::Installer& installer);

// Appends one line " ODBC Error <code>: <text>\n" per installer error record,
// in record order, and returns 1 when it appended any, else 0.
int DisplayODBCErrors(dsn::WindowOperations& window, dsn::Installer& installer);
