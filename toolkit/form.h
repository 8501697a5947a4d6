// Top-level windows with their menus and timers. A Form object lives as long as its owner
// keeps it; its native window exists from Load (first Show) until the user closes it or the
// program ends. The first load builds the form's structure (Build: its controls with their
// designs, timers, menus and handlers); every load, the first included, resets the form and
// its controls and timers to their designs and runs Form_Load. The program ends when its
// last loaded form has closed.
// Space: a form's own Left, Top and Width are twips of the screen, its CursorPos logical pixels
// of the screen, as its monitor maps them; its controls are in its scale. Owners: the form owns
// its native window (until the window closes); its owner owns the form; timers and menu items
// are members of the window class.
#pragma once
#include "container.h"
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

class Form : public Container {
public:
    Form() = default;
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

    // Toolkit internals.
    void menuCommand(int id) override;
    void timer(int id) override;
    void destroyed() override;
    NativeWindow* native() const override { return native_.get(); }

protected:
    virtual void Build() = 0;    // once, at the first load: design, controls, timers, menus
    virtual void Form_Load() {}

    // For Build.
    void SetDesign(const FormDesign& d) { design_ = d; }
    void AddTimer(Timer& t, TimerDesign d);
    void SetMenuBar(std::vector<MenuItem*> menus) { menus_ = std::move(menus); }

private:
    bool Load();
    void releaseNative(); // the window goes, and what depends on it
    void forgetWindow();
    std::unique_ptr<NativeWindow> native_;
    bool built_ = false;
    FormDesign design_;
    std::vector<Timer*> timers_;
    std::vector<MenuItem*> menus_;
    std::vector<const MenuItem*> commands_; // index + 1 is the command id
};

// Ends the program at once: every form closes without running a handler.
void EndProgram();

} // namespace tk
