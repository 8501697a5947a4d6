#include "form.h"
#include <algorithm>

namespace tk {

namespace {
// Forms whose native window exists; the program ends when the last one closes.
std::vector<Form*>& openForms()
{
    static std::vector<Form*> forms;
    return forms;
}
}

// ---- Timer ----

void Timer::attachTo(Form& f, int id, TimerDesign d)
{
    form_ = &f;
    id_ = id;
    design_ = d;
    resetToDesign();
}

void Timer::SetInterval(int ms)
{
    interval_ = ms;
    restart();
}

void Timer::SetEnabled(bool on)
{
    enabled_ = on;
    restart();
}

void Timer::restart()
{
    NativeWindow* w = form_ ? form_->native() : nullptr;
    if (!w)
        return;
    if (enabled_ && interval_ > 0)
        w->startTimer(id_, interval_);
    else
        w->stopTimer(id_);
}

// ---- Form ----

Form::~Form()
{
    // The derived window's controls are gone by now: only the native window is left to close.
    forgetWindow();
    native_.reset();
}

void Form::AddTimer(Timer& t, TimerDesign d)
{
    timers_.push_back(&t);
    t.attachTo(*this, static_cast<int>(timers_.size()), d);
}

bool Form::Load()
{
    if (!built_) {
        built_ = true;
        Build();
    }
    commands_.clear();

    auto toSpec = [this](auto& self, const MenuItem& item) -> MenuSpec {
        MenuSpec spec{item.Caption, 0, {}};
        if (item.Items.empty() && item.Caption != "-") {
            commands_.push_back(&item);
            spec.id = static_cast<int>(commands_.size());
        }
        for (const MenuItem* child : item.Items)
            spec.items.push_back(self(self, *child));
        return spec;
    };

    WindowSpec spec;
    spec.caption = design_.caption;
    spec.frame = design_.frame;
    spec.clientSize = {int(design_.clientWidth) / TwipsPerPixelX(), int(design_.clientHeight) / TwipsPerPixelY()};
    spec.placement = design_.placement;
    spec.minimizeBox = design_.minimizeBox;
    spec.iconResource = design_.iconResource;
    spec.showInTaskbar = design_.showInTaskbar;
    for (const MenuItem* m : menus_)
        spec.menu.push_back(toSpec(toSpec, *m));

    // The form holds its window before anything of it runs, so that labels measure their text
    // as that window draws it, also while the system makes it.
    native_ = backend().createWindow(spec, *this);
    resetContainer(design_.scale, design_.backColor);
    focus_.reset();
    resetControls();
    focus_.fixItems();
    for (Timer* t : timers_)
        t->resetToDesign();
    if (!native_->create()) {
        releaseNative();
        return false;
    }
    openForms().push_back(this);
    for (Timer* t : timers_)
        t->restart();
    Form_Load();
    return true;
}

bool Form::Show()
{
    if (!native_ && !Load())
        return false;
    if (native_)
        native_->show();
    return native_ != nullptr;
}

void Form::Unload()
{
    if (!native_)
        return;
    forgetWindow();
    releaseNative();
}

float Form::Left() const { return native_ ? float(native_->outerRect().left * TwipsPerPixelX()) : 0.0f; }
float Form::Top() const { return native_ ? float(native_->outerRect().top * TwipsPerPixelY()) : 0.0f; }
float Form::Width() const { return native_ ? float(native_->outerRect().width() * TwipsPerPixelX()) : 0.0f; }

PointPx Form::CursorPos() const { return native_ ? native_->cursorPos() : PointPx{}; }

void Form::menuCommand(int id)
{
    if (id >= 1 && id <= static_cast<int>(commands_.size()) && commands_[id - 1]->Click)
        commands_[id - 1]->Click();
}

void Form::timer(int id)
{
    if (id >= 1 && id <= static_cast<int>(timers_.size()) && timers_[id - 1]->OnTimer)
        timers_[id - 1]->OnTimer();
}

void Form::destroyed()
{
    releaseNative();
    forgetWindow();
}

void Form::releaseNative()
{
    windowGone();
    focus_.reset();
    native_.reset();
}

void Form::forgetWindow()
{
    auto& forms = openForms();
    const auto it = std::find(forms.begin(), forms.end(), this);
    if (it == forms.end())
        return;
    forms.erase(it);
    if (forms.empty())
        backend().quit();
}

void EndProgram()
{
    // Copy first: each unload takes its form off the list.
    const std::vector<Form*> forms = openForms();
    for (Form* f : forms)
        f->Unload();
    backend().quit();
}

} // namespace tk
