#pragma once

#include "core/Properties.h"

namespace Veltrane {

/// A range of element indices, first, first + skip + 1, ... up to last, and a
/// focus element that single-element requests use. Empty when last < first
/// (first -1, last -2 by default). Reads and writes the parameters "first",
/// "last", "skip" and "focus".
class Selection : public Configurable {
public:
    Selection() = default;
    Selection(int first, int last, int skip = 0, int focus = 0);

    /// Number of selected elements; a negative skip counts as 0.
    int size() const;
    /// Fits the selection to a list of `count` elements: an empty list
    /// empties it (focus 0); otherwise first, last and focus are lowered to
    /// count - 1 and a negative focus becomes 0. A negative skip becomes 0.
    void clamp(int count);

    /// Reads each of the four parameters that `properties` holds.
    void configure(const Properties* properties) override;
    /// Writes "first", "last" and "skip" unless the selection is empty, and
    /// "focus" unless it is 0.
    void configuration(Properties* properties) const override;

    bool operator==(const Selection& other) const;
    bool operator!=(const Selection& other) const { return !(*this == other); }

    int first = -1;
    int last = -2;
    int skip = 0;  ///< elements skipped between two selected ones
    int focus = 0;
};

}  // namespace Veltrane
