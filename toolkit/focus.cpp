// The keyboard's focus and what assistive technology is told: the form's side of both. Picture
// boxes take part through their controls; keys and questions come to the form only.
#include "focus.h"
#include <algorithm>
#include <cstdlib>
#include <utility>

namespace tk {

namespace {
bool showing(const Control& c) { return c.Visible() && c.container()->shown(); }
RectPx windowRect(const Control& c) { return c.pixelRect().shifted(c.container()->windowOrigin()); }

// The controls of a container and its boxes: the tab stops, or all that have a role.
void collect(const Container& in, std::vector<Control*>& out, bool tabStopsOnly, bool visibleOnly)
{
    for (Control* c : in.Controls()) {
        if (visibleOnly && !c->Visible())
            continue;
        const Access& a = c->Accessibility();
        if (tabStopsOnly ? a.tabStop : a.role != Role::None)
            out.push_back(c);
    }
    for (PictureBox* box : in.Boxes())
        if (!visibleOnly || box->Visible())
            collect(*box, out, tabStopsOnly, visibleOnly);
}

// Top edge first, then left edge; equal ones keep their z-order. A window holds a dozen or so:
// an insertion sort is all it takes.
void sortByReadingOrder(std::vector<Control*>& order)
{
    auto before = [](const Control* a, const Control* b) {
        const RectPx ra = windowRect(*a), rb = windowRect(*b);
        return ra.top != rb.top ? ra.top < rb.top : ra.left < rb.left;
    };
    for (std::size_t i = 1; i < order.size(); ++i)
        for (std::size_t j = i; j > 0 && before(order[j], order[j - 1]); --j)
            std::swap(order[j], order[j - 1]);
}

// The control nearest to `from`'s centre among those whose centre lies that way: within the
// quarter turn around the direction (dx, dy). None when there is none.
Control* nearestToward(const std::vector<Control*>& order, const Control& from, int dx, int dy)
{
    auto centre2 = [](const Control& c) { // doubled, so that halves stay whole
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
} // namespace

std::vector<Control*> FocusModel::readingOrder(bool tabStopsOnly) const
{
    std::vector<Control*> order;
    collect(form_, order, tabStopsOnly, true);
    sortByReadingOrder(order);
    return order;
}

// A reader keeps an item's index as long as the window lives: one that hides keeps its index
// and says it is invisible, one that moves keeps it too.
void FocusModel::fixItems()
{
    items_.clear();
    collect(form_, items_, false, false);
    sortByReadingOrder(items_);
}

void FocusModel::reset()
{
    focused_ = nullptr;
    hasFocus_ = cueShown_ = false;
}

int FocusModel::itemIndex(const Control* c) const
{
    const auto it = std::find(items_.begin(), items_.end(), c);
    return c && it != items_.end() ? int(it - items_.begin()) : -1;
}

void FocusModel::changed(const Control& c, AccessibleEvent e)
{
    if (const int index = itemIndex(&c); form_.native() && index >= 0)
        form_.native()->accessibleChanged(e, index);
}

Control* FocusModel::itemControl(int index) const
{
    return index >= 0 && index < int(items_.size()) ? items_[std::size_t(index)] : nullptr;
}

bool FocusModel::cueVisible() const { return focused_ && focused_->Visible() && hasFocus_ && cueShown_; }

void FocusModel::invalidateCue() const
{
    if (focused_)
        focused_->container()->invalidate(focused_->pixelRect());
}

void FocusModel::paintCue(const Container& in, Canvas& canvas) const
{
    if (cueVisible() && focused_->container() == &in)
        canvas.focusRect(focused_->pixelRect());
}

void FocusModel::moveFocus(Control* c)
{
    if (!c || c == focused_)
        return;
    invalidateCue();
    focused_ = c;
    invalidateCue();
    if (c->GotFocus)
        c->GotFocus();
    // The reader announces the control by its place among the items it sees.
    if (const int index = itemIndex(c); form_.native() && index >= 0)
        form_.native()->focusMoved(index);
}


void FocusModel::key(const KeyEvent& e)
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

void FocusModel::windowFocus(bool has)
{
    if (has == hasFocus_)
        return;
    hasFocus_ = has;
    invalidateCue();
    // Coming back to the window, the reader hears which control has the focus.
    if (const int index = itemIndex(focused_); has && form_.native() && index >= 0)
        form_.native()->focusMoved(index);
}

void FocusModel::cue(bool shown)
{
    if (shown == cueShown_)
        return;
    cueShown_ = shown;
    invalidateCue();
}

AccessibleItem FocusModel::item(int index) const
{
    const Control* c = itemControl(index);
    if (!c)
        return {};
    const Access& a = c->Accessibility();
    return {c->AccessibleName(), std::string(a.defaultAction), a.role, windowRect(*c),
            c == focused_ && hasFocus_, a.tabStop, showing(*c)};
}

int FocusModel::itemAt(PointPx p) const { return itemIndex(form_.controlAt(p)); }

int FocusModel::focusedItem() const { return hasFocus_ ? itemIndex(focused_) : -1; }

void FocusModel::action(int index)
{
    Control* c = itemControl(index);
    if (c && showing(*c) && c->Click)
        c->Click();
}

bool FocusModel::takeFocus(int index)
{
    Control* c = itemControl(index);
    if (!c || !c->Accessibility().tabStop || !showing(*c))
        return false;
    moveFocus(c);
    return true;
}

} // namespace tk
