#pragma once
// Modal dialogs. While one is open, the event loop keeps running.

#include <string>

namespace stonecall {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message box with an OK button only, captioned with the application's title.
    virtual void MsgBox(const std::string& text) = 0;
    // An input box with OK and Cancel; Cancel gives the empty text.
    virtual std::string InputBox(const std::string& prompt, const std::string& title) = 0;
};

} // namespace stonecall
