// The portable core's mirrors of Windows values and of the message
// catalogue's identifiers, checked at compile time against <windows.h> and
// against the header the message compiler writes from res/messages.mc.
#include <windows.h>

#include <wtsapi32.h>

#include "messages.h"
#include "notify/CatalogIds.h"
#include "platform/SystemValues.h"

namespace ravitor {

static_assert(kWmDestroy == WM_DESTROY);
static_assert(kWmPaint == WM_PAINT);
static_assert(kWmClose == WM_CLOSE);
static_assert(kWmQueryEndSession == WM_QUERYENDSESSION);
static_assert(kWmEndSession == WM_ENDSESSION);
static_assert(kWmSettingChange == WM_SETTINGCHANGE);
static_assert(kWmCommand == WM_COMMAND);
static_assert(kWmTimer == WM_TIMER);
static_assert(kWmWtsSessionChange == WM_WTSSESSION_CHANGE);

static_assert(kWtsConsoleConnect == WTS_CONSOLE_CONNECT);
static_assert(kWtsConsoleDisconnect == WTS_CONSOLE_DISCONNECT);
static_assert(kWtsRemoteConnect == WTS_REMOTE_CONNECT);
static_assert(kWtsRemoteDisconnect == WTS_REMOTE_DISCONNECT);

static_assert(kMbIconHand == MB_ICONHAND);
static_assert(kMbSetForeground == MB_SETFOREGROUND);
static_assert(kMbTopmost == MB_TOPMOST);
static_assert(kWarningBoxStyle == (MB_OK | MB_ICONHAND | MB_SETFOREGROUND | MB_TOPMOST));
static_assert(kSmtoNormal == SMTO_NORMAL);
static_assert(kEventTypeInformation == EVENTLOG_INFORMATION_TYPE);
static_assert(kRegSz == REG_SZ);
static_assert(kRegExpandSz == REG_EXPAND_SZ);
static_assert(kRegDword == REG_DWORD);

static_assert(kCategoryWtsEvent == CATEGORY_WTS_EVENT);
static_assert(kActiveCaption == MSG_ACTIVE_CAPTION);
static_assert(kActiveLogoffWarning == MSG_ACTIVE_LOGOFF_WARNING);
static_assert(kActiveDisconnectWarning == MSG_ACTIVE_DISCONNECT_WARNING);
static_assert(kIdleCaption == MSG_IDLE_CAPTION);
static_assert(kIdleLogoffWarning == MSG_IDLE_LOGOFF_WARNING);
static_assert(kIdleDisconnectWarning == MSG_IDLE_DISCONNECT_WARNING);
static_assert(kDisconnectedCaption == MSG_DISCONNECTED_CAPTION);
static_assert(kSessionLoggedOffEvent == MSG_SESSION_LOGGED_OFF);
static_assert(kSessionDisconnectedEvent == MSG_SESSION_DISCONNECTED);

}  // namespace ravitor
