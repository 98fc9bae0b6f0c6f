// The portable mirrors of Win32 values the session service decides by, each
// checked against <windows.h>.
#include <windows.h>
#include <wtsapi32.h>

#include "service/ServiceNames.h"

namespace ravitor::service {

static_assert(kWtsConsoleConnect == WTS_CONSOLE_CONNECT);
static_assert(kWtsRemoteConnect == WTS_REMOTE_CONNECT);
static_assert(kWtsSessionLogon == WTS_SESSION_LOGON);
static_assert(kWtsSessionLogoff == WTS_SESSION_LOGOFF);
static_assert(kNoConsoleSession == 0xFFFFFFFFu);
static_assert(kErrorNoToken == ERROR_NO_TOKEN);
static_assert(kErrorCtxWinstationNotFound == ERROR_CTX_WINSTATION_NOT_FOUND);
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kEventTypeError == EVENTLOG_ERROR_TYPE);
static_assert(kEventTypeWarning == EVENTLOG_WARNING_TYPE);

}  // namespace ravitor::service
