// Debug output of a container's controls. A file of its own, so that a program that never
// asks for it does not link it.
#include "container.h"

namespace tk {

std::string Container::Describe() const
{
    std::string out;
    describe(out, 0);
    return out;
}

void Container::describe(std::string& out, int depth) const
{
    for (const Control* c : controls_) {
        const RectPx r = c->pixelRect();
        out += std::string(std::size_t(depth) * 2, ' ') + c->Name() + ' ' + std::to_string(r.left) + ',' +
               std::to_string(r.top) + ' ' + std::to_string(r.width()) + 'x' + std::to_string(r.height()) +
               (c->Visible() ? "" : " hidden");
        if (const std::string* caption = c->describedCaption())
            out += " \"" + *caption + "\"";
        out += '\n';
        if (const Container* inner = c->describedContents())
            inner->describe(out, depth + 1);
    }
}

} // namespace tk
