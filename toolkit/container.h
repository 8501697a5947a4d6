// Containers: the root of a window's windowless controls. A container draws its background,
// its picture and its controls (bottom of the z-order first), hit-tests them topmost first, and
// routes the mouse: the first press captures the pointer for the pressed control until the last
// button is released, and every press and release meanwhile, of any button, goes to it; a click
// is a left press and release on the same control; the second press of a double click raises
// DblClick only (no MouseDown, and no Click on its release, which is a plain MouseUp).
// Picture boxes are controls that hold a control list of their own, drawn and hit-tested above
// all their parent's windowless controls, as child windows would be, but without a native
// window of their own: they draw into the form's window and invalidate through their parent,
// shifted to their client area and clipped to it.
// Space: controls are in this container's scale (twips or logical pixels); the window speaks
// logical client pixels. Owners: a container holds its controls but does not own them (they are
// members of the window class that adds them).
// A window's structure is built once: each control is added with its name and its design, and
// every load resets the controls to their designs without adding anything.
#pragma once
#include "controls.h"
#include <memory>
#include <string>
#include <vector>

namespace tk {

// Twips per logical pixel: 1440 to the inch at 96 DPI, at every display scale.
constexpr int kTwipsPerPixel = 15;
constexpr int TwipsPerPixelX() { return kTwipsPerPixel; }
constexpr int TwipsPerPixelY() { return kTwipsPerPixel; }

class Form;
class PictureBox;

class Container {
public:
    virtual ~Container() = default;

    ScaleMode Scale() const { return scale_; }
    float ScaleX(int px) const;              // client pixels -> scale
    float ScaleY(int px) const;
    int PixelsX(float v) const;              // scale -> client pixels
    int PixelsY(float v) const;

    Color BackColor() const { return backColor_; }
    void SetBackColor(Color c);
    const PicturePtr& ContainerPicture() const { return picture_; }

    MouseHandler MouseMove; // the pointer over no control of this container

    virtual void invalidate(RectPx r); // in this container's client pixels
    virtual NativeWindow* native() const = 0; // the form's window, null while it has none
    const std::vector<Control*>& Controls() const { return controls_; } // topmost first
    const std::vector<PictureBox*>& Boxes() const { return boxes_; }    // among them, topmost first
    Control* controlAt(PointPx p) const; // whom the mouse would be over, in a box too

    // One line per control, in z-order, picture boxes with their controls indented under them:
    // names, pixel rectangles, visibility and captions, for debugging and tests.
    std::string Describe() const;

    // What the form's window asks, for this client area.
    void paint(Canvas& canvas);
    void mouse(const MouseEvent& e);
    int cursorAt(PointPx p);
    std::string toolTipAt(PointPx p);
    void scaleChanged(); // the window's display scale changed: labels refit

    // Toolkit internals.
    virtual Form& form() = 0;                           // the window this client area is in
    virtual bool shown() const { return true; }         // this client area is on show
    virtual PointPx windowOrigin() const { return {}; } // this client area's place in the window

protected:
    // Controls are added topmost first, once; the list is the z-order for the container's life.
    template <typename C> void Add(C& control, std::string_view name, const typename C::Design& design)
    {
        add(control, name);
        control.SetDesign(design);
    }
    void resetContainer(ScaleMode scale, Color back);
    void resetControls(); // every control to its design
    void setContainerPicture(PicturePtr p);
    void windowGone(); // the form's window has closed: no pictures, press or hover
    void forgetInteraction(); // no press or hover
    Control* hitTest(PointPx p) const;

    std::vector<Control*> controls_;
    std::vector<PictureBox*> boxes_; // the picture boxes among the controls, topmost first

private:
    void add(Control& c, std::string_view name);
    void add(PictureBox& box, std::string_view name);
    void describe(std::string& out, int depth) const;
    void fire(const MouseHandler& h, const Control* c, const MouseEvent& e, short buttons);
    bool holdsPointer() const { return pressed_ || pressedSelf_ || pressedBox_; }
    void endPress(bool releaseCapture); // no button is held any more
    // The picture box an event at p belongs to, if any; `onBorder` when p is on a box's border,
    // which, as a child window's frame would, takes the pointer from everyone.
    PictureBox* boxAt(PointPx p, bool& onBorder) const;
    // The box that has the pointer at p: the pressed one, else, unless a control of this
    // container holds the pointer, the one under p.
    PictureBox* pointerBox(PointPx p, bool& onBorder) const;

    ScaleMode scale_ = ScaleMode::Twips;
    Color backColor_ = SysColor::ButtonFace;
    PicturePtr picture_;
    Control* pressed_ = nullptr;   // the control holding the capture
    bool pressedSelf_ = false;     // the capture is held by the container itself
    short heldButtons_ = 0;                // Button bits pressed since the capture was taken
    bool leftPressIsDoubleClick_ = false;  // the left button's press was a double click's second
    Control* hovered_ = nullptr;
    PictureBox* pressedBox_ = nullptr; // a press inside this box: it has the pointer until release
};

enum class PictureBorder { None, Flat, Sunken };

struct PictureBoxDesign {
    float left = 0, top = 0, width = 0, height = 0;
    PictureBorder border = PictureBorder::None;
    Color backColor = SysColor::ButtonFace;
    ScaleMode scale = ScaleMode::Twips;
    bool autoSize = false;   // size to the picture (plus the border)
    int pictureResource = 0; // 0: no picture
};

// A picture box clips what it holds and is drawn above every windowless control of its parent.
class PictureBox : public Control, public Container {
public:
    using Design = PictureBoxDesign;
    void SetDesign(const Design& d) { design_ = d; } // what each load resets to
    void SetPicture(PicturePtr p);
    using Container::Add;       // its own controls, as a form adds its
    using Container::MouseMove; // the box's own event, for the pointer over none of its controls
    void resetToDesign() override; // itself and its controls
    const Container* describedContents() const override { return this; }
    void scaleChanged() override { Container::scaleChanged(); } // its controls refit

    void invalidate(RectPx r) override;
    NativeWindow* native() const override { return container() ? container()->native() : nullptr; }
    int borderPixels() const;
    RectPx clientRect() const;           // in the parent's client pixels
    PointPx toClient(PointPx p) const;   // a point of the parent's client, in the box's
    void paintBox(Canvas& canvas);  // border and contents, in the parent's client pixels
    // The parent routes the mouse to the box itself, ahead of its windowless controls.
    bool takesMouse() const override { return false; }
    Form& form() override { return container()->form(); }
    bool shown() const override { return Visible() && container() && container()->shown(); }
    PointPx windowOrigin() const override;

private:
    Design design_;
};

} // namespace tk
