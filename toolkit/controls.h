// Windowless controls: label, image, shape and line. Each lives in one container (a form or a
// picture box), which draws it in z-order and routes the mouse to it. Positions and sizes are
// in the container's scale (twips or pixels) as float, so fractional moves accumulate. The
// container does not own its controls: they are members of the window class that adds them.
// Each control keeps its design, given once when its window is built; every load of the
// window resets the control to it.
#pragma once
#include "backend.h"
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace tk {

class Container;

using MouseHandler = std::function<void(short button, short shift, float x, float y)>;

// What a screen reader is told of a control, and whether the keyboard's focus stops on it.
// Designs are constant data: their texts are views of text that outlives the window, such as
// literals and constant tables.
struct Access {
    Role role = Role::None;         // None: not shown to assistive technology
    std::string_view name;          // empty: a label's caption
    std::string_view defaultAction; // what the control's Click does, in a word
    bool tabStop = false;
};

class Control {
public:
    Control() = default;
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& Name() const { return name_; } // for debug output and tests
    float Left() const { return left_; }
    float Top() const { return top_; }
    float Width() const { return width_; }
    float Height() const { return height_; }
    bool Visible() const { return visible_; }
    const std::string& ToolTipText() const { return toolTip_; }
    int MouseIcon() const { return mouseIcon_; }
    const Access& Accessibility() const { return access_; }
    virtual std::string AccessibleName() const { return std::string(access_.name); }

    void Move(float left, float top);
    void Move(float left, float top, float width, float height);
    void SetLeft(float v) { Move(v, top_); }
    void SetTop(float v) { Move(left_, v); }
    void SetWidth(float v) { Move(left_, top_, v, height_); }
    void SetHeight(float v) { Move(left_, top_, width_, v); }
    void SetVisible(bool v);
    void SetToolTipText(std::string s) { toolTip_ = std::move(s); }
    void SetMouseIcon(int cursorResource) { mouseIcon_ = cursorResource; }

    std::function<void()> Click;
    std::function<void()> DblClick;
    std::function<void()> GotFocus; // the keyboard's focus moved here
    MouseHandler MouseDown, MouseUp, MouseMove;

    // Toolkit internals.
    void attachTo(Container& c, std::string name)
    {
        container_ = &c;
        name_ = std::move(name);
    }
    virtual void resetToDesign() = 0; // at each load of the window
    // For the debug description: a caption to show, the controls held inside.
    virtual const std::string* describedCaption() const { return nullptr; }
    virtual const Container* describedContents() const { return nullptr; }
    Container* container() const { return container_; }
    RectPx pixelRect() const; // in the container's client pixels
    virtual void paint(Canvas&) const {}
    virtual bool takesMouse() const { return true; }
    virtual void windowClosed() {} // drop what only the loaded window needs
    virtual void scaleChanged() {} // the window shows at another display scale

protected:
    void invalidate() const;
    void tell(AccessibleEvent e) const; // to assistive technology, when it sees this control
    template <typename D> void placeAsDesigned(const D& d)
    {
        left_ = d.left;
        top_ = d.top;
        width_ = d.width;
        height_ = d.height;
    }

    Container* container_ = nullptr;
    std::string name_;
    float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    std::string toolTip_;
    int mouseIcon_ = 0;
    Access access_;
};

enum class LabelBorder { None, Sunken };

struct LabelDesign {
    float left = 0, top = 0, width = 0, height = 0;
    std::string_view caption;
    Font font;
    Color foreColor = SysColor::ButtonText;
    Color backColor = SysColor::ButtonFace;
    bool opaque = true;
    Align alignment = Align::Left;
    bool autoSize = false;
    bool wordWrap = false;
    LabelBorder border = LabelBorder::None;
    bool visible = true;
    std::string_view toolTip;
    int mouseIcon = 0;
    Access access;
};

class Label : public Control {
public:
    using Design = LabelDesign;
    void SetDesign(const Design& d) { design_ = d; } // what each load resets to

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string s);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool on);
    Color ForeColor() const { return foreColor_; }
    void SetForeColor(Color c);
    const Font& GetFont() const { return design_.font; }
    std::string AccessibleName() const override;

    void paint(Canvas& canvas) const override;
    void resetToDesign() override;
    const std::string* describedCaption() const override { return &caption_; }

private:
    // At another display scale the text measures again, unless the program has sized the
    // label itself since it last fitted: what the program decided holds at every scale.
    void scaleChanged() override;
    void fitToText();
    Design design_;
    std::string caption_;
    Color foreColor_ = SysColor::ButtonText;
    bool autoSize_ = false;
    float fittedWidth_ = -1, fittedHeight_ = -1; // the size the last fit gave
};

struct ImageDesign {
    float left = 0, top = 0, width = 0, height = 0;
    bool stretch = false;
    bool visible = true;
    int pictureResource = 0; // 0: no picture
    Access access;
};

// Without a picture an image draws nothing but still takes the mouse over its rectangle.
class Image : public Control {
public:
    using Design = ImageDesign;
    void SetDesign(const Design& d) { design_ = d; } // what each load resets to

    const PicturePtr& Picture() const { return picture_; }
    void SetPicture(PicturePtr p); // sizes itself to the picture unless stretched

    void paint(Canvas& canvas) const override;
    void windowClosed() override { picture_.reset(); }
    void resetToDesign() override;

private:
    Design design_;
    PicturePtr picture_;
};

struct ShapeDesign {
    float left = 0, top = 0, width = 0, height = 0;
    Color fillColor = Rgb(0, 0, 0);
    Color borderColor = SysColor::WindowText;
};

// A filled rectangle with a 1-pixel border; decoration only.
class Shape : public Control {
public:
    using Design = ShapeDesign;
    void SetDesign(const Design& d) { design_ = d; } // what each load resets to
    void paint(Canvas& canvas) const override;
    bool takesMouse() const override { return false; }
    void resetToDesign() override;

private:
    Design design_;
};

struct LineDesign {
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    Color color = SysColor::WindowText;
};

// A 1-pixel line from its first end point to its second; decoration only. Its Left, Top, Width
// and Height are the box around the two ends.
class Line : public Control {
public:
    using Design = LineDesign;
    void SetDesign(const Design& d) { design_ = d; } // what each load resets to
    void paint(Canvas& canvas) const override;
    bool takesMouse() const override { return false; }
    void resetToDesign() override;

private:
    Design design_;
};

} // namespace tk
