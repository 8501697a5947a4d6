// The keyboard's focus and the items assistive technology sees, for one form. The focus is one
// of the tab-stop controls of the form and its picture boxes, or none until a key picks one.
// Tab and Shift+Tab go round them in reading order (top edge, then left edge), the arrows go to
// the nearest one that way, Home and End to the first and last, Enter and Space click the
// focused one. The focused control gets a dotted outline once the keyboard has been used in the
// window, as the platform's UI state says. Assistive technology sees the controls that have a
// role, each at an index fixed at load for the window's life: one that hides or moves keeps it.
// Space: logical client pixels of the form's window. Owners: the form owns its focus model;
// the model points at controls it does not own.
#pragma once
#include "container.h"
#include <vector>

namespace tk {

class FocusModel {
public:
    explicit FocusModel(Container& form) : form_(form) {}

    void fixItems(); // at each load: the items and their indexes, in reading order
    void reset();    // no focus, no cue
    Control* focused() const { return focused_; }

    void key(const KeyEvent& e);
    void windowFocus(bool has);
    void cue(bool shown);
    void paintCue(const Container& in, Canvas& canvas) const; // in that container's pixels

    int count() const { return int(items_.size()); }
    AccessibleItem item(int index) const;
    int itemAt(PointPx p) const;
    int focusedItem() const;
    void action(int index);
    bool takeFocus(int index);
    void changed(const Control& c, AccessibleEvent e); // tells the window's reader

private:
    std::vector<Control*> readingOrder(bool tabStopsOnly) const; // visible ones only
    int itemIndex(const Control* c) const; // -1: none
    Control* itemControl(int index) const; // null for an index out of range
    void moveFocus(Control* c);
    bool cueVisible() const;
    void invalidateCue() const;

    Container& form_;
    Control* focused_ = nullptr;
    std::vector<Control*> items_;
    bool hasFocus_ = false; // the window has the keyboard focus
    bool cueShown_ = false; // the keyboard has been used in the window
};

} // namespace tk
