// Top-level windows with their menus and timers. A Form object lives as long as its owner
// keeps it; its native window exists from Load (first Show) until the user closes it or the
// program ends. The first load builds the form's structure (Build: its controls with their
// designs, timers, menus and handlers); every load, the first included, resets the form and
// its controls and timers to their designs and runs Form_Load. The program ends when its
// last loaded form has closed. The form hears its window's events: paint and the mouse go to
// its controls; the keyboard's focus and what assistive technology sees are its own.
// Space: a form's own Left, Top and Width are twips of the screen, its CursorPos logical pixels
// of the screen, as its monitor maps them; its controls are in its scale. Owners: the form owns
// its native window (until the window closes) and its focus model; its owner owns the form;
// timers and menu items are members of the window class.
#pragma once
#include "container.h"
#include "focus.h"
#include <functional>
#include <string>
#include <vector>

namespace tk {

class Form;

struct TimerDesign {
    int interval = 0; // milliseconds
    bool enabled = true;
};

class Timer {
public:
    int Interval() const { return interval_; }
    bool Enabled() const { return enabled_; }
    void SetInterval(int ms);   // restarts the countdown
    void SetEnabled(bool on);
    std::function<void()> OnTimer;

    // Toolkit internals.
    void attachTo(Form& f, int id, TimerDesign d);
    void resetToDesign() { interval_ = design_.interval, enabled_ = design_.enabled; }
    void restart();

private:
    Form* form_ = nullptr;
    int id_ = 0;
    TimerDesign design_;
    int interval_ = 0;
    bool enabled_ = false;
};

struct MenuItem {
    std::string Caption;
    std::vector<MenuItem*> Items;   // drop-down items, for a menu title
    std::function<void()> Click;
};

struct FormDesign {
    std::string caption;
    Frame frame = Frame::FixedSingle;
    float clientWidth = 0, clientHeight = 0; // twips
    ScaleMode scale = ScaleMode::Twips;
    Color backColor = SysColor::ButtonFace;
    bool minimizeBox = false;
    int iconResource = 0;
    bool showInTaskbar = true;
    Placement placement = Placement::Default;
};

class Form : public Container, private WindowEvents {
public:
    Form() : focus_(*this) {}
    ~Form() override;
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    // Loads first if needed; brings an open form to the front. False when its window could
    // not be made: the form is then not loaded, and nothing of it is left open.
    bool Show();
    void Unload();            // closes the window without running any handler
    bool Loaded() const { return native_ != nullptr; }

    float Left() const;       // twips, outer frame
    float Top() const;
    float Width() const;
    // The pointer's screen position in this form's logical pixels, as Left and Top are in its
    // twips: the platform's GetCursorPos, mapped by the form's monitor.
    PointPx CursorPos() const;

    Control* FocusedControl() const { return focus_.focused(); } // none before a key

    // Toolkit internals.
    NativeWindow* native() const override { return native_.get(); }
    Form& form() override { return *this; }
    void accessibleChanged(const Control& c, AccessibleEvent e) { focus_.changed(c, e); }
    void paintFocusCue(const Container& in, Canvas& canvas) const { focus_.paintCue(in, canvas); }

protected:
    virtual void Build() = 0;    // once, at the first load: design, controls, timers, menus
    virtual void Form_Load() {}

    // For Build.
    void SetDesign(const FormDesign& d) { design_ = d; }
    void AddTimer(Timer& t, TimerDesign d);
    void SetMenuBar(std::vector<MenuItem*> menus) { menus_ = std::move(menus); }

private:
    // WindowEvents: what the window tells the form.
    void paint(Canvas& canvas) override { Container::paint(canvas); }
    void mouse(const MouseEvent& e) override { Container::mouse(e); }
    int cursorAt(PointPx p) override { return Container::cursorAt(p); }
    std::string toolTipAt(PointPx p) override { return Container::toolTipAt(p); }
    void timer(int id) override;
    void menuCommand(int id) override;
    void destroyed() override;
    void key(const KeyEvent& e) override { focus_.key(e); }
    void focus(bool has) override { focus_.windowFocus(has); }
    void focusCue(bool shown) override { focus_.cue(shown); }
    int accessibleCount() override { return focus_.count(); }
    AccessibleItem accessibleItem(int index) override { return focus_.item(index); }
    int accessibleAt(PointPx p) override { return focus_.itemAt(p); }
    int accessibleFocus() override { return focus_.focusedItem(); }
    void accessibleAction(int index) override { focus_.action(index); }
    bool accessibleTakeFocus(int index) override { return focus_.takeFocus(index); }
    void scaleChanged() override { Container::scaleChanged(); }

    bool Load();
    void releaseNative(); // the window goes, and what depends on it
    void forgetWindow();
    std::unique_ptr<NativeWindow> native_;
    FocusModel focus_;
    bool built_ = false;
    FormDesign design_;
    std::vector<Timer*> timers_;
    std::vector<MenuItem*> menus_;
    std::vector<const MenuItem*> commands_; // index + 1 is the command id
};

// Ends the program at once: every form closes without running a handler.
void EndProgram();

} // namespace tk
