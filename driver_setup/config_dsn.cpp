#include <sql.h>
#include <odbcinst.h>

// Placeholder until the setup library lands: refuses every request.
extern "C" BOOL INSTAPI ConfigDSN(HWND, WORD, LPCSTR, LPCSTR) {
    SQLPostInstallerError(ODBC_ERROR_GENERAL_ERR, "not implemented yet");
    return 0;
}
