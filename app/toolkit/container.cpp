#include "container.h"
#include <cmath>

namespace tk {

int TwipsPerPixelX() { return backend().twipsPerPixelX(); }
int TwipsPerPixelY() { return backend().twipsPerPixelY(); }

namespace {
// Half a pixel rounds up, so a position that falls in steps of 0.5 moves a pixel every step pair.
int roundToPixel(float v) { return static_cast<int>(std::floor(v + 0.5f)); }
}

float Container::ScaleX(int px) const
{
    return scale_ == ScaleMode::Twips ? float(px * TwipsPerPixelX()) : float(px);
}
float Container::ScaleY(int px) const
{
    return scale_ == ScaleMode::Twips ? float(px * TwipsPerPixelY()) : float(px);
}
int Container::PixelsX(float v) const
{
    return roundToPixel(scale_ == ScaleMode::Twips ? v / float(TwipsPerPixelX()) : v);
}
int Container::PixelsY(float v) const
{
    return roundToPixel(scale_ == ScaleMode::Twips ? v / float(TwipsPerPixelY()) : v);
}

void Container::SetBackColor(Color c)
{
    backColor_ = c;
    if (native_) {
        native_->setBackground(c);
        native_->invalidate({0, 0, 1 << 15, 1 << 15});
    }
}

void Container::invalidate(RectPx r)
{
    if (native_ && !r.empty())
        native_->invalidate(r);
}

void Container::add(Control& c)
{
    c.attachTo(*this);
    controls_.push_back(&c);
}

void Container::resetContainer(ScaleMode scale, Color back)
{
    scale_ = scale;
    backColor_ = back;
    picture_.reset();
    pressed_ = hovered_ = nullptr;
    pressedSelf_ = false;
}

void Container::setContainerPicture(PicturePtr p)
{
    picture_ = std::move(p);
    invalidate({0, 0, 1 << 15, 1 << 15});
}

void Container::createChildWindows()
{
    for (Control* c : controls_)
        if (auto* box = dynamic_cast<PictureBox*>(c))
            box->createWindow(*native_);
}

void Container::releaseNative()
{
    // Pictures go with the window; the next load takes them from the design again.
    for (Control* c : controls_) {
        c->windowClosed();
        if (auto* box = dynamic_cast<PictureBox*>(c))
            box->releaseNative();
    }
    if (native_)
        native_.reset();
    picture_.reset();
    pressed_ = hovered_ = nullptr;
    pressedSelf_ = false;
}

void Container::destroyed() { releaseNative(); }

Control* Container::hitTest(PointPx p) const
{
    const float x = ScaleX(p.x), y = ScaleY(p.y);
    for (Control* c : controls_) {
        if (!c->Visible() || !c->takesMouse())
            continue;
        if (x >= c->Left() && x < c->Left() + c->Width() && y >= c->Top() && y < c->Top() + c->Height())
            return c;
    }
    return nullptr;
}

void Container::paint(Canvas& canvas)
{
    canvas.fill({0, 0, 1 << 15, 1 << 15}, backColor_);
    if (picture_) {
        const SizePx s = picture_->size();
        canvas.picture(*picture_, {0, 0, s.cx, s.cy});
    }
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it)
        if ((*it)->Visible())
            (*it)->paint(canvas);
}

void Container::fire(const MouseHandler& h, const Control* c, const MouseEvent& e, short buttons)
{
    if (!h)
        return;
    float x = ScaleX(e.pos.x), y = ScaleY(e.pos.y);
    if (c) {
        x -= c->Left();
        y -= c->Top();
    }
    h(buttons, e.shift, x, y);
}

void Container::mouse(const MouseEvent& e)
{
    using Kind = MouseEvent::Kind;
    switch (e.kind) {
    case Kind::Move: {
        Control* hit = hitTest(e.pos);
        if (hit != hovered_) {
            hovered_ = hit;
            if (native_)
                native_->refreshToolTip();
        }
        Control* target = pressed_ ? pressed_ : (pressedSelf_ ? nullptr : hit);
        if (target)
            fire(target->MouseMove, target, e, e.button);
        else
            fire(MouseMove, nullptr, e, e.button);
        break;
    }
    case Kind::Down:
    case Kind::DoubleClick: {
        if (pressed_ || pressedSelf_)
            break; // a second button while one is held: the first press keeps the capture
        Control* hit = hitTest(e.pos);
        pressed_ = hit;
        pressedSelf_ = hit == nullptr;
        pressedButton_ = e.button;
        pressIsDoubleClick_ = e.kind == Kind::DoubleClick;
        if (native_)
            native_->captureMouse();
        if (hit) {
            fire(hit->MouseDown, hit, e, e.button);
            if (pressIsDoubleClick_ && e.button == Button::Left && hit->DblClick && pressed_ == hit)
                hit->DblClick();
        }
        break;
    }
    case Kind::Up:
    case Kind::CaptureLost: {
        if (e.kind == Kind::Up && e.button != pressedButton_)
            break;
        Control* target = pressed_;
        const bool wasDouble = pressIsDoubleClick_;
        pressed_ = nullptr;
        pressedSelf_ = false;
        if (native_ && e.kind == Kind::Up)
            native_->releaseMouse();
        if (!target)
            break;
        fire(target->MouseUp, target, e, pressedButton_);
        const bool over = e.kind == Kind::Up && hitTest(e.pos) == target;
        if (over && pressedButton_ == Button::Left && !wasDouble && target->Click)
            target->Click();
        break;
    }
    }
}

int Container::cursorAt(PointPx p)
{
    const Control* c = pressed_ ? pressed_ : hitTest(p);
    return c ? c->MouseIcon() : 0;
}

std::string Container::toolTipAt(PointPx p)
{
    const Control* c = hitTest(p);
    return c ? c->ToolTipText() : std::string();
}

// ---- PictureBox ----

int PictureBox::borderPixels() const
{
    switch (border_) {
    case PictureBorder::None: return 0;
    case PictureBorder::Flat: return 1;
    case PictureBorder::Sunken: return 2;
    }
    return 0;
}

void PictureBox::Reset(const PictureBoxDesign& d)
{
    placeAsDesigned(d);
    border_ = d.border;
    autoSize_ = d.autoSize;
    visible_ = true;
    resetContainer(d.scale, d.backColor);
}

void PictureBox::SetPicture(PicturePtr p)
{
    if (autoSize_ && p && container()) {
        const SizePx s = p->size();
        const int edge = 2 * borderPixels();
        Move(left_, top_, container()->ScaleX(s.cx + edge), container()->ScaleY(s.cy + edge));
    }
    setContainerPicture(std::move(p));
}

void PictureBox::createWindow(NativeWindow& parent)
{
    const RectPx r = pixelRect();
    WindowSpec spec;
    spec.frame = border_ == PictureBorder::Sunken ? Frame::Sunken
               : border_ == PictureBorder::Flat   ? Frame::Flat
                                                  : Frame::None;
    spec.position = {r.left, r.top};
    const int edge = 2 * borderPixels();
    spec.clientSize = {r.width() - edge, r.height() - edge};
    spec.background = BackColor();
    native_ = backend().createWindow(spec, *this, &parent);
    createChildWindows();
}

} // namespace tk
