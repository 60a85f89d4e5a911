#pragma once
// The wire trace through Qt's logging: category "stonecall.wire", debug messages, off unless
// switched on (QT_LOGGING_RULES="stonecall.wire.debug=true").

#include "platform/WireLog.h"

#include <QLoggingCategory>

namespace stonecall {

Q_DECLARE_LOGGING_CATEGORY(wireLog)

class QtWireLog final : public WireLog {
public:
    void sent(std::string_view message) override;
    void received(std::string_view message) override;
};

} // namespace stonecall
