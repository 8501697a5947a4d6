// The keyboard's focus and what assistive technology is told: the form's side of both. Picture
// boxes take part through their controls; keys and questions come to the form only.
#include "container.h"
#include <algorithm>
#include <cstdlib>
#include <utility>

namespace tk {

void Container::collect(std::vector<Control*>& out, bool tabStopsOnly, bool visibleOnly)
{
    for (Control* c : controls_) {
        if (visibleOnly && !c->Visible())
            continue;
        const Access& a = c->Accessibility();
        if (tabStopsOnly ? a.tabStop : a.role != Role::None)
            out.push_back(c);
    }
    for (PictureBox* box : boxes_)
        if (!visibleOnly || box->Visible())
            box->collect(out, tabStopsOnly, visibleOnly);
}

bool Container::showing(const Control& c) const { return c.Visible() && c.container()->shown(); }

RectPx Container::windowRect(const Control& c) const
{
    return c.pixelRect().shifted(c.container()->windowOrigin());
}

// Top edge first, then left edge; equal ones keep their z-order. A window holds a dozen or so:
// an insertion sort is all it takes.
void Container::sortByReadingOrder(std::vector<Control*>& order) const
{
    auto before = [this](const Control* a, const Control* b) {
        const RectPx ra = windowRect(*a), rb = windowRect(*b);
        return ra.top != rb.top ? ra.top < rb.top : ra.left < rb.left;
    };
    for (std::size_t i = 1; i < order.size(); ++i)
        for (std::size_t j = i; j > 0 && before(order[j], order[j - 1]); --j)
            std::swap(order[j], order[j - 1]);
}

std::vector<Control*> Container::readingOrder(bool tabStopsOnly)
{
    std::vector<Control*> order;
    collect(order, tabStopsOnly, true);
    sortByReadingOrder(order);
    return order;
}

// A reader keeps an item's index as long as the window lives: one that hides keeps its index
// and says it is invisible, one that moves keeps it too.
void Container::fixAccessibleItems()
{
    accessible_.clear();
    collect(accessible_, false, false);
    sortByReadingOrder(accessible_);
}

int Container::itemIndex(const Control* c)
{
    const auto it = std::find(accessible_.begin(), accessible_.end(), c);
    return c && it != accessible_.end() ? int(it - accessible_.begin()) : -1;
}

void Container::accessibleChanged(const Control& c, AccessibleEvent e)
{
    if (const int index = itemIndex(&c); native() && index >= 0)
        native()->accessibleChanged(e, index);
}

Control* Container::controlAt(PointPx p) const
{
    bool onBorder = false;
    if (PictureBox* box = boxAt(p, onBorder))
        return box->controlAt(box->toClient(p));
    return onBorder ? nullptr : hitTest(p);
}

bool Container::cueVisible() const { return focused_ && focused_->Visible() && hasFocus_ && cueShown_; }

void Container::invalidateCue()
{
    if (focused_)
        focused_->container()->invalidate(focused_->pixelRect());
}

void Container::paintCue(Canvas& canvas)
{
    const Container& form = root();
    if (form.cueVisible() && form.focused_->container() == this)
        canvas.focusRect(form.focused_->pixelRect());
}

void Container::moveFocus(Control* c)
{
    if (!c || c == focused_)
        return;
    invalidateCue();
    focused_ = c;
    invalidateCue();
    if (c->GotFocus)
        c->GotFocus();
    // The reader announces the control by its place among the items it sees.
    if (const int index = itemIndex(c); native() && index >= 0)
        native()->focusMoved(index);
}

// The control nearest to `from`'s centre among those whose centre lies that way: within the
// quarter turn around the direction (dx, dy). None when there is none.
Control* Container::nearestToward(const std::vector<Control*>& order, const Control& from, int dx, int dy) const
{
    auto centre2 = [this](const Control& c) { // doubled, so that halves stay whole
        const RectPx r = windowRect(c);
        return PointPx{r.left + r.right, r.top + r.bottom};
    };
    const PointPx c = centre2(from);
    Control* best = nullptr;
    long long bestDistance = 0;
    for (Control* candidate : order) {
        const PointPx p = centre2(*candidate);
        const int along = (p.x - c.x) * dx + (p.y - c.y) * dy;
        const int across = (p.x - c.x) * dy + (p.y - c.y) * dx;
        if (along <= 0 || std::abs(across) > along)
            continue;
        const long long d = 1LL * along * along + 1LL * across * across;
        if (!best || d < bestDistance) {
            best = candidate;
            bestDistance = d;
        }
    }
    return best;
}

void Container::key(const KeyEvent& e)
{
    if (!e.down || (e.shift & (ShiftKey::Ctrl | ShiftKey::Alt)))
        return;
    if (e.key == Key::Enter || e.key == Key::Space) {
        // One click per press: a held key's repeats do nothing.
        if (!e.repeat && focused_ && focused_->Visible() && focused_->Click)
            focused_->Click();
        return;
    }
    const std::vector<Control*> order = readingOrder(true);
    if (order.empty())
        return;
    const int n = int(order.size());
    const auto found = std::find(order.begin(), order.end(), focused_);
    const int at = found == order.end() ? -1 : int(found - order.begin());
    const bool back = (e.shift & ShiftKey::Shift) != 0;
    switch (e.key) {
    case Key::Tab:
        moveFocus(order[std::size_t(at < 0 ? (back ? n - 1 : 0) : (at + (back ? n - 1 : 1)) % n)]);
        break;
    case Key::Home: moveFocus(order.front()); break;
    case Key::End: moveFocus(order.back()); break;
    case Key::Left:
    case Key::Right:
    case Key::Up:
    case Key::Down: {
        if (at < 0) {
            moveFocus(order.front());
            break;
        }
        const int dx = e.key == Key::Left ? -1 : e.key == Key::Right ? 1 : 0;
        const int dy = e.key == Key::Up ? -1 : e.key == Key::Down ? 1 : 0;
        moveFocus(nearestToward(order, *order[std::size_t(at)], dx, dy));
        break;
    }
    }
}

void Container::focus(bool has)
{
    if (has == hasFocus_)
        return;
    hasFocus_ = has;
    invalidateCue();
    // Coming back to the window, the reader hears which control has the focus.
    if (const int index = itemIndex(focused_); has && native() && index >= 0)
        native()->focusMoved(index);
}

void Container::focusCue(bool shown)
{
    if (shown == cueShown_)
        return;
    cueShown_ = shown;
    invalidateCue();
}

int Container::accessibleCount() { return int(accessible_.size()); }

AccessibleItem Container::accessibleItem(int index)
{
    if (index < 0 || index >= int(accessible_.size()))
        return {};
    const Control& c = *accessible_[std::size_t(index)];
    const Access& a = c.Accessibility();
    return {c.AccessibleName(), std::string(a.defaultAction), a.role, windowRect(c),
            &c == focused_ && hasFocus_, a.tabStop, showing(c)};
}

int Container::accessibleAt(PointPx p)
{
    return itemIndex(controlAt(p));
}

int Container::accessibleFocus()
{
    return hasFocus_ ? itemIndex(focused_) : -1;
}

void Container::accessibleAction(int index)
{
    if (index < 0 || index >= int(accessible_.size()))
        return;
    Control& c = *accessible_[std::size_t(index)];
    if (showing(c) && c.Click)
        c.Click();
}

bool Container::accessibleTakeFocus(int index)
{
    if (index < 0 || index >= int(accessible_.size()))
        return false;
    Control* c = accessible_[std::size_t(index)];
    if (!c->Accessibility().tabStop || !showing(*c))
        return false;
    moveFocus(c);
    return true;
}

} // namespace tk
