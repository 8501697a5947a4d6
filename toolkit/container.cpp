#include "form.h"
#include <cmath>

namespace tk {

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
    invalidate({0, 0, 1 << 15, 1 << 15});
}

void Container::invalidate(RectPx r)
{
    if (NativeWindow* w = native(); w && !r.empty())
        w->invalidate(r);
}

void Container::add(Control& c, std::string_view name)
{
    c.attachTo(*this, std::string(name));
    controls_.push_back(&c);
}

void Container::add(PictureBox& box, std::string_view name)
{
    add(static_cast<Control&>(box), name);
    boxes_.push_back(&box);
}

void Container::resetControls()
{
    for (Control* c : controls_)
        c->resetToDesign();
}

void Container::resetContainer(ScaleMode scale, Color back)
{
    scale_ = scale;
    backColor_ = back;
    picture_.reset();
    forgetInteraction();
}

void Container::forgetInteraction()
{
    pressed_ = hovered_ = nullptr;
    pressedSelf_ = false;
    heldButtons_ = 0;
    pressedBox_ = nullptr;
}

void Container::setContainerPicture(PicturePtr p)
{
    picture_ = std::move(p);
    invalidate({0, 0, 1 << 15, 1 << 15});
}

PictureBox* Container::boxAt(PointPx p, bool& onBorder) const
{
    onBorder = false;
    for (PictureBox* box : boxes_) {
        if (!box->Visible())
            continue;
        if (box->clientRect().contains(p))
            return box;
        if (box->pixelRect().contains(p)) {
            onBorder = true;
            return nullptr;
        }
    }
    return nullptr;
}

PictureBox* Container::pointerBox(PointPx p, bool& onBorder) const
{
    onBorder = false;
    if (pressedBox_)
        return pressedBox_;
    return holdsPointer() ? nullptr : boxAt(p, onBorder);
}

// Picture boxes are among the controls and pass it on to theirs.
void Container::scaleChanged()
{
    for (Control* c : controls_)
        c->scaleChanged();
}

void Container::windowGone()
{
    // Pictures go with the window; the next load takes them from the design again.
    for (Control* c : controls_)
        c->windowClosed();
    for (PictureBox* box : boxes_)
        box->windowGone();
    picture_.reset();
    forgetInteraction();
}

Control* Container::controlAt(PointPx p) const
{
    bool onBorder = false;
    if (PictureBox* box = boxAt(p, onBorder))
        return box->controlAt(box->toClient(p));
    return onBorder ? nullptr : hitTest(p);
}

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
    for (auto it = boxes_.rbegin(); it != boxes_.rend(); ++it) // boxes above the rest
        if ((*it)->Visible())
            (*it)->paintBox(canvas);
    form().paintFocusCue(*this, canvas);
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
    // A picture box takes the pointer over its client area, and keeps it from a press there
    // until the release, as a child window would.
    bool onBorder = false;
    PictureBox* box = e.kind == Kind::CaptureLost ? pressedBox_ : pointerBox(e.pos, onBorder);
    if (box || onBorder) {
        if (hovered_) {
            hovered_ = nullptr;
            if (NativeWindow* w = native())
                w->refreshToolTip();
        }
        if (!box)
            return;
        MouseEvent inBox = e;
        inBox.pos = box->toClient(e.pos);
        box->mouse(inBox);
        pressedBox_ = box->holdsPointer() ? box : nullptr;
        return;
    }
    switch (e.kind) {
    case Kind::Move: {
        Control* hit = hitTest(e.pos);
        if (hit != hovered_) {
            hovered_ = hit;
            if (NativeWindow* w = native())
                w->refreshToolTip();
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
        // The first button down takes the capture for the control under the pointer; every
        // further press, whatever the button, goes to that control until the last release.
        if (heldButtons_ == 0) {
            pressed_ = hitTest(e.pos);
            pressedSelf_ = pressed_ == nullptr;
            if (NativeWindow* w = native())
                w->captureMouse();
        }
        heldButtons_ |= e.button;
        if (e.button == Button::Left)
            leftPressIsDoubleClick_ = e.kind == Kind::DoubleClick;
        Control* target = pressed_;
        if (!target)
            break;
        // The second press of a double click is a double click, not a press.
        if (e.kind == Kind::DoubleClick) {
            if (e.button == Button::Left && target->DblClick)
                target->DblClick();
        } else {
            fire(target->MouseDown, target, e, e.button);
        }
        break;
    }
    case Kind::Up: {
        if (!(heldButtons_ & e.button))
            break; // pressed before this window had the pointer
        heldButtons_ &= short(~e.button);
        Control* target = pressed_;
        if (heldButtons_ == 0)
            endPress(true); // before the handlers: the release comes back here as CaptureLost
        if (!target)
            break;
        fire(target->MouseUp, target, e, e.button);
        const bool over = hitTest(e.pos) == target;
        if (over && e.button == Button::Left && !leftPressIsDoubleClick_ && target->Click)
            target->Click();
        break;
    }
    case Kind::CaptureLost: {
        // Every button still held is released where the pointer is; none of them clicks.
        Control* target = pressed_;
        const short held = heldButtons_;
        endPress(false);
        if (target)
            for (short b : {Button::Left, Button::Right, Button::Middle})
                if (held & b)
                    fire(target->MouseUp, target, e, b);
        break;
    }
    }
}

void Container::endPress(bool releaseCapture)
{
    pressed_ = nullptr;
    pressedSelf_ = false;
    heldButtons_ = 0;
    if (NativeWindow* w = native(); w && releaseCapture)
        w->releaseMouse();
}

int Container::cursorAt(PointPx p)
{
    bool onBorder = false;
    if (PictureBox* box = pointerBox(p, onBorder))
        return box->cursorAt(box->toClient(p));
    if (onBorder)
        return 0;
    const Control* c = pressed_ ? pressed_ : hitTest(p);
    return c ? c->MouseIcon() : 0;
}

std::string Container::toolTipAt(PointPx p)
{
    const Control* c = controlAt(p);
    return c ? c->ToolTipText() : std::string();
}

// ---- PictureBox ----

int PictureBox::borderPixels() const
{
    switch (design_.border) {
    case PictureBorder::None: return 0;
    case PictureBorder::Flat: return 1;
    case PictureBorder::Sunken: return 2;
    }
    return 0;
}

void PictureBox::resetToDesign()
{
    placeAsDesigned(design_);
    visible_ = true;
    resetContainer(design_.scale, design_.backColor);
    resetControls();
    if (design_.pictureResource != 0)
        SetPicture(backend().loadPicture(design_.pictureResource));
    Control::invalidate();
}

void PictureBox::SetPicture(PicturePtr p)
{
    if (design_.autoSize && p && container()) {
        const SizePx s = p->size();
        const int edge = 2 * borderPixels();
        Move(left_, top_, container()->ScaleX(s.cx + edge), container()->ScaleY(s.cy + edge));
    }
    setContainerPicture(std::move(p));
}

RectPx PictureBox::clientRect() const { return pixelRect().inflated(-borderPixels()); }

PointPx PictureBox::windowOrigin() const
{
    const PointPx outer = container() ? container()->windowOrigin() : PointPx{};
    const RectPx client = clientRect();
    return {outer.x + client.left, outer.y + client.top};
}

PointPx PictureBox::toClient(PointPx p) const
{
    const RectPx client = clientRect();
    return {p.x - client.left, p.y - client.top};
}

void PictureBox::paintBox(Canvas& canvas)
{
    const RectPx outer = pixelRect();
    if (design_.border == PictureBorder::Sunken)
        canvas.sunkenEdge(outer);
    else if (design_.border == PictureBorder::Flat)
        canvas.frame(outer, SysColor::WindowFrame);
    const RectPx client = clientRect();
    if (client.empty())
        return;
    canvas.pushClip(client);
    Container::paint(canvas);
    canvas.popClip();
}

void PictureBox::invalidate(RectPx r)
{
    if (Container* parent = container()) {
        const RectPx client = clientRect();
        parent->invalidate(r.shifted({client.left, client.top}).intersected(client));
    }
}

} // namespace tk
