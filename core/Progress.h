#pragma once

namespace Veltrane {

/// Observer of a long operation's position (the sequence player's frame, a
/// mesh writer's step). Called on the thread doing the work.
class Progress {
public:
    /// The operation has reached `value` of `maximum`. The result is the
    /// observer's own (a dialog returns whether the user cancelled).
    virtual bool setProgress(int value, int maximum) = 0;

protected:
    ~Progress() = default;
};

}  // namespace Veltrane
