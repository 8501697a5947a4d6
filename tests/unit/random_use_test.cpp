// Long random sessions of pointer, button, menu, close and clock events, with the invariants a
// user relies on checked after every step.
#include "test_support.h"
#include <memory>
#include <optional>
#include <random>

namespace {

using namespace testsupport;

// The hotspot under a client pixel of the main window, found from the catalogue alone.
std::optional<Spot> hotspotAt(tk::PointPx p)
{
    const int tx = (p.x - 5) * 15, ty = (p.y - 6) * 15;
    if (p.x < 5 || p.y < 6 || p.x >= 5 + 425 || p.y >= 6 + 331)
        return std::nullopt;
    for (const Spot& h : kSpots)
        if (tx >= h.left && tx < h.left + h.width && ty >= h.top && ty < h.top + h.height)
            return h;
    return std::nullopt;
}

class RandomUse : public ::testing::TestWithParam<unsigned> {
protected:
    HeadlessBackend backend{artResource};
    tk::BackendInstaller install{backend};
    std::unique_ptr<Application> app;
    std::size_t expectedStarts = 0;
    long long lastLogoEvent = 0;
    std::optional<Spot> pressed;
    bool pressedOnMain = false;

    void start()
    {
        app = std::make_unique<Application>();
        app->Start();
        backend.quitRequested = false;
    }

    void checkInvariants(int step)
    {
        SCOPED_TRACE("step " + std::to_string(step));
        frmCPanel& main = app->MainWindow();
        if (main.Loaded()) {
            // The strip is empty, or shows one hotspot's title and icon.
            const std::string& caption = main.lblInfo.Caption();
            const tk::PicturePtr& preview = main.imgPreview.Picture();
            bool matched = caption.empty() && preview == nullptr;
            for (const Spot& h : kSpots)
                matched |= caption == h.title && preview == main.imgIcons(h.icon).Picture();
            EXPECT_TRUE(matched) << caption;
        }
        EXPECT_LE(countCaptioned(backend, "About"), 1);
        EXPECT_EQ(backend.processStarts.size(), expectedStarts);
        frmAbout* about = app->AboutWindowIfCreated();
        if (about && about->Loaded() && !about->bFollowCursor && backend.now() - lastLogoEvent >= 200 &&
            backend.capture == nullptr) {
            EXPECT_EQ(about->imgLogo.Left(), 8);
            EXPECT_EQ(about->imgLogo.Top(), 8);
        }
    }
};

TEST_P(RandomUse, InvariantsHoldAfterEveryStep)
{
    std::mt19937 rng(GetParam());
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    start();
    for (int step = 0; step < 3000; ++step) {
        frmCPanel& main = app->MainWindow();
        frmAbout* about = app->AboutWindowIfCreated();
        HeadlessWindow* mainWin = main.Loaded() ? &nativeOf(main) : nullptr;
        HeadlessWindow* aboutWin = about && about->Loaded() ? &nativeOf(*about) : nullptr;
        if (!mainWin && !aboutWin) { // the program has ended: start it again
            EXPECT_TRUE(backend.quitRequested);
            start();
            continue;
        }
        // While a button is held, the window holding the capture gets the pointer.
        const bool onMain = backend.capture ? pressedOnMain && mainWin : mainWin && (!aboutWin || pick(3) > 0);
        HeadlessWindow& w = onMain ? *mainWin : *aboutWin;
        const tk::PointPx p = onMain ? tk::PointPx{pick(440) - 3, pick(375) - 3} : tk::PointPx{pick(100), pick(110)};
        const short button = short(1 << pick(3)), shift = short(pick(8));
        backend.cursor = {w.outer.left + 3 + p.x, w.outer.top + 19 + p.y};
        const bool released = backend.capture == nullptr;
        switch (pick(10)) {
        case 0: case 1: case 2: backend.mouseMove(w, w.scale.toDevice(p), released ? 0 : 1, shift); break;
        case 3:
            if (released) {
                backend.mouseDown(w, w.scale.toDevice(p), button, shift);
                pressed = onMain && button == 1 ? hotspotAt(p) : std::nullopt;
                pressedOnMain = onMain;
                lastLogoEvent = backend.now();
            } else {
                // A left press and release on the same hotspot is a click.
                const auto over = onMain ? hotspotAt(p) : std::nullopt;
                if (pressed && over && pressed->name == over->name)
                    ++expectedStarts;
                pressed.reset();
                for (short b : {short(1), short(2), short(4)})
                    backend.mouseUp(w, w.scale.toDevice(p), b);
                lastLogoEvent = backend.now();
            }
            break;
        case 4:
        case 5:
            if (!released)
                break;
            if (onMain && hotspotAt(p))
                ++expectedStarts;
            pick(2) ? backend.click(w, w.scale.toDevice(p)) : backend.doubleClick(w, w.scale.toDevice(p));
            lastLogoEvent = backend.now();
            break;
        case 6:
            if (mainWin)
                chooseMenu(*mainWin, pick(4) ? "&About" : pick(2) ? "&Quick help" : "E&xit");
            break;
        case 7:
            if (pick(4) == 0)
                w.close();
            break;
        default: backend.advance(pick(600)); break;
        }
        checkInvariants(step);
        if (HasFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomUse, ::testing::Values(1u, 2u, 3u, 4u, 5u));

} // namespace
