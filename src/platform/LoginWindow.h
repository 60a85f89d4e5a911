#pragma once
// What the core needs of the login window. Texts are byte strings in the client's
// single-byte character set.

#include <string>

namespace stonecall {

class LoginWindow {
public:
    virtual ~LoginWindow() = default;

    virtual void setVisible(bool visible) = 0;
    virtual bool isVisible() const = 0;
    virtual void unload() = 0;

    virtual std::string usrNameText() const = 0;
    virtual void setStatusText(const std::string& text) = 0; // lblError
    virtual std::string statusText() const = 0;
    virtual void setProgress(int value) = 0; // StatsProg, 0 to 3
    virtual int progress() const = 0;
};

} // namespace stonecall
