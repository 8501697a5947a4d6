// The control panel window: the scene with its thirteen hotspots, the hover strip under it,
// and the menu bar. Twips throughout; the hotspots live in Picture1's inner area.
#pragma once
#include "../toolkit/form.h"
#include "hotspots.h"
#include <array>

class Application;

class frmCPanel : public tk::Form {
public:
    explicit frmCPanel(Application& app) : app_(app) {}

    // Controls, in z-order within their containers.
    tk::PictureBox Picture1;
    tk::Label lblInfo;
    std::array<tk::Image, 13> imgIcons;
    tk::Image imgPreview;
    tk::Label lblBack;
    tk::Image imgMouse, imgClock, imgKeys, imgGlobe, imgKeyboard, imgHardDisk, imgComputer, imgDisplay,
        imgRightSpeaker, imgModem, imgCDs, imgLeftSpeaker, imgMap;
    tk::MenuItem mnufile, mnuEXIT, mnuhelp, mnuQuickHelp, dsh, mnuAbout;

    void Form_Load() override;
    void Picture1_MouseMove(short Button, short Shift, float X, float Y);

    void imgMouse_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsMouse]); }
    void imgClock_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsClock]); }
    void imgKeys_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsKeys]); }
    void imgGlobe_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsGlobe]); }
    void imgKeyboard_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsKeyboard]); }
    void imgHardDisk_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsHardDisk]); }
    void imgComputer_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsComputer]); }
    void imgDisplay_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsDisplay]); }
    void imgRightSpeaker_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsRightSpeaker]); }
    void imgModem_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsModem]); }
    void imgCDs_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsCDs]); }
    void imgLeftSpeaker_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsLeftSpeaker]); }
    void imgMap_MouseMove(short, short, float, float) { ShowHotspot(Hotspots[hsMap]); }

    void imgMouse_Click() { Launch(Hotspots[hsMouse]); }
    void imgClock_Click() { Launch(Hotspots[hsClock]); }
    void imgKeys_Click() { Launch(Hotspots[hsKeys]); }
    void imgGlobe_Click() { Launch(Hotspots[hsGlobe]); }
    void imgKeyboard_Click() { Launch(Hotspots[hsKeyboard]); }
    void imgHardDisk_Click() { Launch(Hotspots[hsHardDisk]); }
    void imgComputer_Click() { Launch(Hotspots[hsComputer]); }
    void imgDisplay_Click() { Launch(Hotspots[hsDisplay]); }
    void imgRightSpeaker_Click() { Launch(Hotspots[hsRightSpeaker]); }
    void imgModem_Click() { Launch(Hotspots[hsModem]); }
    void imgCDs_Click() { Launch(Hotspots[hsCDs]); }
    void imgLeftSpeaker_Click() { Launch(Hotspots[hsLeftSpeaker]); }
    void imgMap_Click() { Launch(Hotspots[hsMap]); }

    void mnuEXIT_Click();
    void mnuQuickHelp_Click();
    void mnuAbout_Click();

private:
    void Layout() override;
    void ShowHotspot(const HotspotEntry& entry);
    static void Launch(const HotspotEntry& entry);

    struct HotspotBinding {
        tk::Image frmCPanel::*control;
        void (frmCPanel::*mouseMove)(short, short, float, float);
        void (frmCPanel::*click)();
    };
    static const std::array<HotspotBinding, 13> Bindings;

    Application& app_;
};
