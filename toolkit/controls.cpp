#include "controls.h"
#include "form.h"

namespace tk {

// ---- Control ----

RectPx Control::pixelRect() const
{
    if (!container_)
        return {};
    const int l = container_->PixelsX(left_), t = container_->PixelsY(top_);
    return {l, t, l + container_->PixelsX(width_), t + container_->PixelsY(height_)};
}

void Control::invalidate() const
{
    if (container_ && visible_)
        container_->invalidate(pixelRect());
}

void Control::Move(float left, float top) { Move(left, top, width_, height_); }

void Control::Move(float left, float top, float width, float height)
{
    if (left == left_ && top == top_ && width == width_ && height == height_)
        return;
    invalidate();
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    invalidate();
    tell(AccessibleEvent::LocationChange);
}

void Control::SetVisible(bool v)
{
    if (v == visible_)
        return;
    invalidate();
    visible_ = v;
    invalidate();
    tell(v ? AccessibleEvent::Show : AccessibleEvent::Hide);
}

void Control::tell(AccessibleEvent e) const
{
    if (container_ && Accessibility().role != Role::None)
        container_->form().accessibleChanged(*this, e);
}

// ---- Label ----

void Label::resetToDesign()
{
    const Design& d = design_;
    placeAsDesigned(d);
    caption_ = std::string(d.caption);
    foreColor_ = d.foreColor;
    autoSize_ = d.autoSize;
    visible_ = d.visible;
    toolTip_ = std::string(d.toolTip);
    mouseIcon_ = d.mouseIcon;
    access_ = d.access;
    fitToText();
    invalidate();
}

std::string Label::AccessibleName() const { return access_.name.empty() ? caption_ : std::string(access_.name); }

void Label::SetCaption(std::string s)
{
    if (s == caption_)
        return;
    invalidate();
    caption_ = std::move(s);
    fitToText();
    invalidate();
    if (access_.name.empty()) // named by its caption
        tell(AccessibleEvent::NameChange);
}

void Label::SetAutoSize(bool on)
{
    // Already fitted: captions refit as they change, so turning it on again measures nothing.
    if (on == autoSize_)
        return;
    autoSize_ = on;
    fitToText();
}

void Label::SetForeColor(Color c)
{
    foreColor_ = c;
    invalidate();
}

// Auto-size keeps Left and Top: a word-wrapped label keeps its width and takes the height of
// the wrapped text, any other takes the width and height of its one line.
void Label::fitToText()
{
    // Without a window there is nothing to measure by: the next load fits the label.
    NativeWindow* window = container_ ? container_->native() : nullptr;
    if (!autoSize_ || !window)
        return;
    const int edge = design_.border == LabelBorder::Sunken ? 4 : 0;
    // Measured as its window draws it: a scalable face at 200 % is not exactly twice as wide.
    auto measure = [&](int wrap) { return window->measureText(caption_, design_.font, wrap); };
    if (design_.wordWrap) {
        const int wrap = container_->PixelsX(width_) - edge;
        const SizePx s = measure(wrap > 0 ? wrap : 1);
        Move(left_, top_, width_, container_->ScaleY(s.cy + edge));
    } else {
        const SizePx s = measure(0);
        Move(left_, top_, container_->ScaleX(s.cx + edge), container_->ScaleY(s.cy + edge));
    }
    fittedWidth_ = width_;
    fittedHeight_ = height_;
}

void Label::scaleChanged()
{
    if (width_ == fittedWidth_ && height_ == fittedHeight_)
        fitToText();
}

void Label::paint(Canvas& canvas) const
{
    RectPx r = pixelRect();
    if (design_.opaque)
        canvas.fill(r, design_.backColor);
    if (design_.border == LabelBorder::Sunken) {
        canvas.sunkenEdge(r);
        r = r.inflated(-2);
    }
    if (!caption_.empty())
        canvas.text(r, caption_, design_.font, foreColor_, design_.alignment, true);
}

// ---- Image ----

void Image::resetToDesign()
{
    placeAsDesigned(design_);
    access_ = design_.access;
    visible_ = design_.visible;
    picture_.reset();
    invalidate();
    if (design_.pictureResource != 0)
        SetPicture(backend().loadPicture(design_.pictureResource));
}

void Image::SetPicture(PicturePtr p)
{
    if (p == picture_)
        return;
    invalidate();
    picture_ = std::move(p);
    if (picture_ && !design_.stretch && container_) {
        const SizePx s = picture_->size();
        Move(left_, top_, container_->ScaleX(s.cx), container_->ScaleY(s.cy));
    }
    invalidate();
}

void Image::paint(Canvas& canvas) const
{
    if (!picture_)
        return;
    const RectPx r = pixelRect();
    if (design_.stretch) {
        canvas.picture(*picture_, r);
    } else {
        const SizePx s = picture_->size();
        canvas.picture(*picture_, {r.left, r.top, r.left + s.cx, r.top + s.cy});
    }
}

// ---- Shape and Line ----

void Shape::resetToDesign()
{
    placeAsDesigned(design_);
    visible_ = true;
    invalidate();
}

void Shape::paint(Canvas& canvas) const
{
    const RectPx r = pixelRect();
    canvas.fill(r, design_.fillColor);
    canvas.frame(r, design_.borderColor);
}

void Line::resetToDesign()
{
    const Design& d = design_;
    left_ = d.x1 < d.x2 ? d.x1 : d.x2;
    top_ = d.y1 < d.y2 ? d.y1 : d.y2;
    width_ = d.x1 < d.x2 ? d.x2 - d.x1 : d.x1 - d.x2;
    height_ = d.y1 < d.y2 ? d.y2 - d.y1 : d.y1 - d.y2;
    visible_ = true;
    invalidate();
}

void Line::paint(Canvas& canvas) const
{
    // From end to end as designed: the bounding box alone would turn a rising line into a
    // falling one.
    if (!container_)
        return;
    const Design& d = design_;
    canvas.line({container_->PixelsX(d.x1), container_->PixelsY(d.y1)},
                {container_->PixelsX(d.x2), container_->PixelsY(d.y2)}, d.color);
}

} // namespace tk
