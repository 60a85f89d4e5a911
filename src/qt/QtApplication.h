#pragma once

#include "platform/Application.h"

namespace stonecall {

class QtApplication final : public Application {
public:
    void quit() override;
    void DoEvents() override;
    bool quitRequested() const { return quitRequested_; }

private:
    bool quitRequested_ = false;
};

} // namespace stonecall
