// Containers: the root of a native window's windowless controls. A container draws its
// background, its picture and its controls (bottom of the z-order first), hit-tests them
// topmost first, and routes the mouse: a press captures the pointer for the pressed control
// until release, a click is a left press and release on the same control, and the second press
// of a double click raises DblClick instead of a second Click.
// Coordinates: controls are in this container's scale; the native window speaks client pixels.
#pragma once
#include "controls.h"
#include <memory>
#include <vector>

namespace tk {

int TwipsPerPixelX();
int TwipsPerPixelY();

class Container : public WindowEvents {
public:
    ScaleMode Scale() const { return scale_; }
    float ScaleX(int px) const;              // client pixels -> scale
    float ScaleY(int px) const;
    int PixelsX(float v) const;              // scale -> client pixels
    int PixelsY(float v) const;

    Color BackColor() const { return backColor_; }
    void SetBackColor(Color c);
    const PicturePtr& ContainerPicture() const { return picture_; }

    MouseHandler MouseMove; // the pointer over no control of this container

    void invalidate(RectPx r);
    NativeWindow* native() const { return native_.get(); }

    // WindowEvents
    void paint(Canvas& canvas) override;
    void mouse(const MouseEvent& e) override;
    int cursorAt(PointPx p) override;
    std::string toolTipAt(PointPx p) override;
    void timer(int) override {}
    void menuCommand(int) override {}
    void destroyed() override;

protected:
    // Controls are added topmost first; the list is the z-order for the container's life.
    void add(Control& c);
    void resetContainer(ScaleMode scale, Color back);
    void setContainerPicture(PicturePtr p);
    void createChildWindows();
    void releaseNative();
    Control* hitTest(PointPx p) const;

    std::unique_ptr<NativeWindow> native_;
    std::vector<Control*> controls_;

private:
    void fire(const MouseHandler& h, const Control* c, const MouseEvent& e, short buttons);

    ScaleMode scale_ = ScaleMode::Twips;
    Color backColor_ = SysColor::ButtonFace;
    PicturePtr picture_;
    Control* pressed_ = nullptr;   // the control holding the capture
    bool pressedSelf_ = false;     // the capture is held by the container itself
    short pressedButton_ = 0;
    bool pressIsDoubleClick_ = false;
    Control* hovered_ = nullptr;
};

enum class PictureBorder { None, Flat, Sunken };

struct PictureBoxDesign {
    float left = 0, top = 0, width = 0, height = 0;
    PictureBorder border = PictureBorder::None;
    Color backColor = SysColor::ButtonFace;
    ScaleMode scale = ScaleMode::Twips;
    bool autoSize = false; // size to the picture (plus the border)
};

// A picture box is a real child window: it clips what it holds and is drawn above every
// windowless control of its parent.
class PictureBox : public Control, public Container {
public:
    void Reset(const PictureBoxDesign& d);
    void SetPicture(PicturePtr p);
    void Add(Control& c) { add(c); }
    using Container::MouseMove; // the box's own event, for the pointer over none of its controls

    void createWindow(NativeWindow& parent);
    int borderPixels() const;
    // Its own window draws it and takes its mouse; the parent neither paints nor hit-tests it.
    bool takesMouse() const override { return false; }

private:
    PictureBorder border_ = PictureBorder::None;
    bool autoSize_ = false;
};

} // namespace tk
