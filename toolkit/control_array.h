// Controls of one kind under one name, reached by index (imgIcons(3)). Their events come to
// one handler each, with the index of the control that raised them first. The array owns its
// controls; the container it is added to, as for any control, does not. Space: its controls'
// container's scale.
#pragma once
#include "controls.h"
#include <array>
#include <cstddef>
#include <functional>

namespace tk {

template <typename C, std::size_t N>
class ControlArray {
public:
    using IndexHandler = std::function<void(int index)>;
    using IndexMouseHandler = std::function<void(int index, short button, short shift, float x, float y)>;

    IndexHandler Click, DblClick, GotFocus;
    IndexMouseHandler MouseDown, MouseUp, MouseMove;

    ControlArray()
    {
        for (std::size_t i = 0; i < N; ++i) {
            C& c = items_[i];
            const int index = int(i);
            c.Click = [this, index] { if (Click) Click(index); };
            c.DblClick = [this, index] { if (DblClick) DblClick(index); };
            c.GotFocus = [this, index] { if (GotFocus) GotFocus(index); };
            c.MouseDown = [this, index](short b, short s, float x, float y) { if (MouseDown) MouseDown(index, b, s, x, y); };
            c.MouseUp = [this, index](short b, short s, float x, float y) { if (MouseUp) MouseUp(index, b, s, x, y); };
            c.MouseMove = [this, index](short b, short s, float x, float y) { if (MouseMove) MouseMove(index, b, s, x, y); };
        }
    }
    ControlArray(const ControlArray&) = delete; // the controls' handlers point here
    ControlArray& operator=(const ControlArray&) = delete;

    C& operator()(int index) { return items_.at(std::size_t(index)); }
    const C& operator()(int index) const { return items_.at(std::size_t(index)); }
    static constexpr int Count() { return int(N); }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }

private:
    std::array<C, N> items_;
};

} // namespace tk
