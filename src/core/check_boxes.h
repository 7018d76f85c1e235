// The two optional inventories' switches, read when their sections run: the
// main window's check boxes on the desktop (whose rules are in
// app/main_window_logic.h), fixed values in batch mode. A port, so that the
// sections read them without knowing any window.
#pragma once

namespace veltrix {

class CheckBoxes {
public:
    virtual ~CheckBoxes() = default;
    virtual int hotcheck() const = 0;  // 1 = ticked
    virtual int swcheck() const = 0;
};

class FixedCheckBoxes final : public CheckBoxes {
public:
    FixedCheckBoxes(bool hotfix, bool software) : hot_(hotfix ? 1 : 0), sw_(software ? 1 : 0) {}
    int hotcheck() const override { return hot_; }
    int swcheck() const override { return sw_; }

private:
    int hot_, sw_;
};

}  // namespace veltrix
