#include "qt/QtWireLog.h"

#include "protocol/WireTrace.h"
#include "qt/Charset.h"

namespace stonecall {

Q_LOGGING_CATEGORY(wireLog, "stonecall.wire", QtWarningMsg)

// qCDebug skips its arguments while the category is off, so a quiet run renders nothing.
void QtWireLog::sent(std::string_view message)
{
    qCDebug(wireLog).noquote() << "sent" << toQString(traceText(message));
}

void QtWireLog::received(std::string_view message)
{
    qCDebug(wireLog).noquote() << "recv" << toQString(traceText(message));
}

} // namespace stonecall
