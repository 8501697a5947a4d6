// Top-level windows with their menus and timers. A Form object lives as long as its owner
// keeps it; its native window exists from Load (first Show) until the user closes it or the
// program ends, and each load rebuilds the controls from the design (Layout) and runs
// Form_Load. The program ends when its last loaded form has closed.
// A form's own Left, Top and Width are twips; its controls are in its scale.
#pragma once
#include "container.h"
#include <functional>
#include <string>
#include <vector>

namespace tk {

class Form;

class Timer {
public:
    int Interval() const { return interval_; }
    bool Enabled() const { return enabled_; }
    void SetInterval(int ms);   // restarts the countdown
    void SetEnabled(bool on);
    void Reset(int intervalMs, bool enabled);
    std::function<void()> OnTimer;

    // Toolkit internals.
    void attachTo(Form& f, int id) { form_ = &f; id_ = id; }
    void restart();

private:
    Form* form_ = nullptr;
    int id_ = 0;
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

    void Show();              // loads first if needed; brings an open form to the front
    void Unload();            // closes the window without running any handler
    bool Loaded() const { return native_ != nullptr; }

    float Left() const;       // twips, outer frame
    float Top() const;
    float Width() const;

    // Toolkit internals.
    void menuCommand(int id) override;
    void timer(int id) override;
    void destroyed() override;

protected:
    virtual void Layout() = 0;   // sets every control and timer to its design
    virtual void Form_Load() {}

    void SetDesign(const FormDesign& d);
    void Add(Control& c) { add(c); }
    void AddTimer(Timer& t);
    void SetMenuBar(std::vector<MenuItem*> menus);

private:
    void Load();
    void forgetWindow();
    FormDesign design_;
    std::vector<Timer*> timers_;
    std::vector<MenuItem*> menus_;
    std::vector<const MenuItem*> commands_; // index + 1 is the command id
};

// Ends the program at once: every form closes without running a handler.
void EndProgram();

} // namespace tk
