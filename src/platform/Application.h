#pragma once

namespace stonecall {

// What the program asks of the running application itself.
class Application {
public:
    virtual ~Application() = default;
    // Ends the program: no further events are handled.
    virtual void quit() = 0;
    // Lets the window system deliver the events that are waiting (one pass of the loop).
    virtual void DoEvents() = 0;
};

} // namespace stonecall
