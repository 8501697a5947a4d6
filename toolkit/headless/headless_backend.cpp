#include "headless_backend.h"
#include "../codecs/image.h"
#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

namespace tk::headless {

namespace {

constexpr DeviceSize kScreen{1024, 768};

// Frame metrics of the platform's classic look: 3-pixel fixed frame, 18-pixel caption,
// 19-pixel menu bar, 16-pixel tool caption.
struct FrameMetrics { int left, top, right, bottom; };
FrameMetrics metricsFor(const WindowSpec& s)
{
    switch (s.frame) {
    case Frame::FixedSingle: return {3, 3 + 18 + (s.menu.empty() ? 0 : 19), 3, 3};
    case Frame::FixedToolWindow: return {3, 19, 3, 3};
    }
    return {0, 0, 0, 0};
}

// Records draws in the window's client device pixels (nested clips move the origin; they do
// not cut).
class RecordingCanvas final : public Canvas {
public:
    explicit RecordingCanvas(DisplayScale scale) : scale_(scale) {}
    std::vector<DrawOp> ops;
    void fill(RectPx r, Color c) override { add(DrawOp::Kind::Fill, r, c); }
    void frame(RectPx r, Color c) override { add(DrawOp::Kind::Frame, r, c); }
    void sunkenEdge(RectPx r) override { add(DrawOp::Kind::SunkenEdge, r); }
    void line(PointPx a, PointPx b, Color c) override { add(DrawOp::Kind::Line, {a.x, a.y, b.x, b.y}, c); }
    void text(RectPx r, std::string_view s, const Font&, Color c, Align, bool) override
    {
        add(DrawOp::Kind::Text, r, c, std::string(s));
    }
    void picture(const Picture& p, RectPx dest) override { add(DrawOp::Kind::Picture, dest, 0, {}, &p); }
    void pushClip(RectPx r) override { origins_.push_back({origin().x + r.left, origin().y + r.top}); }
    void popClip() override { origins_.pop_back(); }
    void focusRect(RectPx r) override { add(DrawOp::Kind::FocusRect, r); }

private:
    PointPx origin() const { return origins_.empty() ? PointPx{0, 0} : origins_.back(); }
    void add(DrawOp::Kind kind, RectPx r, Color c = 0, std::string text = {}, const Picture* p = nullptr)
    {
        ops.push_back({kind, scale_.toDevice(r.shifted(origin())), c, std::move(text), p});
    }
    DisplayScale scale_;
    std::vector<PointPx> origins_;
};

class HeadlessPicture final : public Picture {
public:
    explicit HeadlessPicture(SizePx s) : size_(s) {}
    SizePx size() const override { return size_; }
private:
    SizePx size_;
};

// Deterministic metrics: a character is half the font's pixel size wide, a line 1.25 times
// its pixel size high; wrapping breaks at blanks.
SizePx deterministicTextSize(std::string_view text, const Font& font, int wrapWidth)
{
    const float px = font.points * 96.0f / 72.0f;
    const int charW = std::max(1, int(std::lround(px * 0.5f)));
    const int lineH = int(std::lround(px * 1.25f));
    if (wrapWidth <= 0)
        return {int(text.size()) * charW, lineH};
    int lines = 0, lineChars = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = text.find(' ', i);
        if (end == std::string_view::npos)
            end = text.size();
        const int word = int(end - i);
        const int needed = lineChars == 0 ? word : lineChars + 1 + word;
        if (lineChars > 0 && needed * charW > wrapWidth) {
            ++lines;
            lineChars = word;
        } else {
            lineChars = needed;
        }
        i = end + 1;
    }
    return {wrapWidth, (lines + 1) * lineH};
}

} // namespace

// ---- HeadlessWindow ----

HeadlessWindow::HeadlessWindow(HeadlessBackend& b, const WindowSpec& s, WindowEvents& e)
    : backend(b), spec(s), events(&e), scale(b.dpi)
{
    const FrameMetrics m = metricsFor(spec);
    const DeviceSize client = clientSize();
    const int w = client.cx + m.left + m.right, h = client.cy + m.top + m.bottom;
    const DevicePoint at = spec.placement == Placement::CenterActive ? DevicePoint{(kScreen.cx - w) / 2, (kScreen.cy - h) / 2}
                                                                     : DevicePoint{40, 30};
    outer = {at.x, at.y, at.x + w, at.y + h};
}

HeadlessWindow::~HeadlessWindow()
{
    events = nullptr;
    backend.forget(this);
}

PointPx HeadlessWindow::cursorPos() const { return scale.toLogical(backend.cursor); }

bool HeadlessWindow::create()
{
    created = !backend.refuseWindows;
    return created;
}

void HeadlessWindow::show()
{
    visible = true;
    ++showCount;
    backend.focus(this); // shown and activated
}

// As on the platform, a window that loses the capture hears of it at once, from inside the
// call that took it away.
void HeadlessWindow::captureMouse()
{
    HeadlessWindow* previous = std::exchange(backend.capture, this);
    if (previous && previous != this && previous->events)
        previous->events->mouse({MouseEvent::Kind::CaptureLost, 0, 0, {}});
}

void HeadlessWindow::releaseMouse()
{
    if (backend.capture != this)
        return;
    backend.capture = nullptr;
    if (events)
        events->mouse({MouseEvent::Kind::CaptureLost, 0, 0, {}});
}

void HeadlessWindow::startTimer(int id, int milliseconds)
{
    timers[id] = {milliseconds, backend.now() + milliseconds, backend.nextTimerOrder++};
}

void HeadlessWindow::stopTimer(int id) { timers.erase(id); }

SizePx HeadlessWindow::measureText(std::string_view text, const Font& font, int wrapWidth)
{
    return backend.measureText(text, font, wrapWidth, scale.dpi());
}

void HeadlessWindow::moveToMonitor(int dpi, DevicePoint topLeft)
{
    const SizePx logical{scale.toLogical(outer.right) - scale.toLogical(outer.left),
                         scale.toLogical(outer.bottom) - scale.toLogical(outer.top)};
    scale = DisplayScale(dpi);
    const DeviceSize size = scale.toDevice(logical);
    outer = {topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy};
    if (events)
        events->scaleChanged();
}

void HeadlessWindow::close()
{
    // As the platform does: the toolkit hears of it and drops this object.
    if (events)
        events->destroyed();
}

std::vector<DrawOp> HeadlessWindow::paint()
{
    RecordingCanvas canvas(scale);
    if (events)
        events->paint(canvas);
    return canvas.ops;
}

// ---- HeadlessBackend ----

HeadlessBackend::HeadlessBackend(ResourceLookup resources) : resources_(std::move(resources)) {}
HeadlessBackend::~HeadlessBackend() = default;

std::unique_ptr<NativeWindow> HeadlessBackend::createWindow(const WindowSpec& spec, WindowEvents& events)
{
    auto w = std::make_unique<HeadlessWindow>(*this, spec, events);
    windows_.push_back(w.get());
    return w;
}

void HeadlessBackend::forget(HeadlessWindow* w)
{
    windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
    if (capture == w)
        capture = nullptr;
    if (focused == w)
        focused = nullptr;
}

void HeadlessBackend::focus(HeadlessWindow* w)
{
    if (w == focused)
        return;
    HeadlessWindow* previous = std::exchange(focused, w);
    if (previous && previous->events)
        previous->events->focus(false);
    if (w && w->events)
        w->events->focus(true);
}

void HeadlessBackend::setFocusCueHidden(HeadlessWindow& w, bool hidden)
{
    if (w.focusCueHidden == hidden)
        return;
    w.focusCueHidden = hidden;
    if (w.events)
        w.events->focusCue(!hidden);
}

void HeadlessBackend::keyDown(int key, short shift, bool repeat)
{
    if (!focused)
        return;
    setFocusCueHidden(*focused, false);
    if (focused->events)
        focused->events->key({true, key, shift, repeat});
}

void HeadlessBackend::keyUp(int key, short shift)
{
    if (focused && focused->events)
        focused->events->key({false, key, shift, false});
}

void HeadlessBackend::press(int key, short shift)
{
    keyDown(key, shift);
    keyUp(key, shift);
}

PicturePtr HeadlessBackend::loadPicture(int resourceId)
{
    if (!resources_)
        return nullptr;
    const std::vector<std::uint8_t> bytes = resources_(resourceId);
    const codecs::Image image = codecs::decodeImage(bytes);
    return image.empty() ? nullptr : std::make_shared<HeadlessPicture>(SizePx{image.width, image.height});
}

SizePx HeadlessBackend::measureText(std::string_view text, const Font& font, int wrapWidth, int dpi)
{
    const SizePx s = deterministicTextSize(text, font, wrapWidth);
    return textSize ? textSize(text, s, dpi) : s;
}

void HeadlessBackend::messageBox(std::string_view text, std::string_view title, int style)
{
    messageBoxes.push_back({std::string(text), std::string(title), style});
    if (duringMessageBox)
        duringMessageBox();
}

bool HeadlessBackend::systemFileExists(std::string_view fileName)
{
    if (!systemFiles)
        return true;
    // File names are the same in any case, as on the platform.
    auto sameName = [&](std::string_view f) {
        return f.size() == fileName.size() && std::equal(f.begin(), f.end(), fileName.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    return std::any_of(systemFiles->begin(), systemFiles->end(), sameName);
}

bool HeadlessBackend::startSystemProgram(std::string_view programFile, std::string_view commandLine, int showState)
{
    if (refuseProcessStarts)
        return false;
    processStarts.push_back({std::string(programFile), std::string(commandLine), showState});
    return true;
}

void HeadlessBackend::shellExecute(std::string_view verb, std::string_view file, std::string_view parameters,
                                   std::string_view directory, int showCommand)
{
    shellCalls.push_back({std::string(verb), std::string(file), std::string(parameters), std::string(directory),
                          showCommand});
}

std::vector<HeadlessWindow*> HeadlessBackend::topLevelWindows() const { return windows_; }

HeadlessWindow* HeadlessBackend::findWindow(std::string_view caption) const
{
    for (HeadlessWindow* w : windows_)
        if (w->created && w->spec.caption == caption)
            return w;
    return nullptr;
}

void HeadlessBackend::deliver(HeadlessWindow& top, MouseEvent::Kind kind, short button, short shift, DevicePoint p)
{
    // The capture holder gets the pointer wherever it is, else the window it is over.
    HeadlessWindow* target = capture ? capture : &top;
    if (target->events)
        target->events->mouse({kind, button, shift, target->scale.toLogical(p)});
}

void HeadlessBackend::mouseMove(HeadlessWindow& top, DevicePoint p, short buttons, short shift)
{
    deliver(top, MouseEvent::Kind::Move, buttons, shift, p);
}

void HeadlessBackend::mouseDown(HeadlessWindow& top, DevicePoint p, short button, short shift)
{
    deliver(top, MouseEvent::Kind::Down, button, shift, p);
}

void HeadlessBackend::mouseUp(HeadlessWindow& top, DevicePoint p, short button, short shift)
{
    deliver(top, MouseEvent::Kind::Up, button, shift, p);
}

void HeadlessBackend::doubleClickPress(HeadlessWindow& top, DevicePoint p, short button, short shift)
{
    deliver(top, MouseEvent::Kind::DoubleClick, button, shift, p);
}

void HeadlessBackend::click(HeadlessWindow& top, DevicePoint p)
{
    mouseDown(top, p);
    mouseUp(top, p);
}

void HeadlessBackend::doubleClick(HeadlessWindow& top, DevicePoint p)
{
    click(top, p);
    doubleClickPress(top, p);
    mouseUp(top, p);
}

void HeadlessBackend::advance(long long milliseconds)
{
    const long long until = now_ + milliseconds;
    for (;;) {
        HeadlessWindow* owner = nullptr;
        int id = 0;
        const HeadlessWindow::TimerState* next = nullptr;
        for (HeadlessWindow* w : windows_)
            for (auto& [timerId, t] : w->timers)
                if (t.due <= until && (!next || t.due < next->due || (t.due == next->due && t.order < next->order))) {
                    next = &t;
                    owner = w;
                    id = timerId;
                }
        if (!next)
            break;
        now_ = next->due;
        auto& t = owner->timers[id];
        t.due = now_ + t.interval;
        t.order = nextTimerOrder++;
        if (owner->events)
            owner->events->timer(id);
    }
    now_ = until;
}

} // namespace tk::headless
