// The control panel window: the scene with its thirteen hotspots, the hover strip under it,
// and the menu bar. Twips throughout; the hotspots live in Picture1's inner area. The hotspots
// are one control array driven by the catalogue, which names each (imgKeyboard, ...).
#pragma once
#include "toolkit/control_array.h"
#include "toolkit/form.h"
#include "hotspots.h"

class Application;

class frmCPanel : public tk::Form {
public:
    explicit frmCPanel(Application& app) : app_(app) {}

    // Controls, in z-order within their containers.
    tk::PictureBox Picture1;
    tk::ControlArray<tk::Image, Hotspots.size()> imgHotspot; // inside Picture1, in catalogue order
    tk::Label lblInfo;
    tk::ControlArray<tk::Image, 13> imgIcons;
    tk::Image imgPreview;
    tk::Label lblBack;
    tk::MenuItem mnufile, mnuEXIT, mnuhelp, mnuQuickHelp, dsh, mnuAbout;

    void Form_Load() override;
    void Picture1_MouseMove(short Button, short Shift, float X, float Y);
    void imgHotspot_MouseMove(int Index, short Button, short Shift, float X, float Y);
    void imgHotspot_GotFocus(int Index);
    void imgHotspot_Click(int Index);
    void mnuEXIT_Click();
    void mnuQuickHelp_Click();
    void mnuAbout_Click();

private:
    void Build() override;
    void ShowInStrip(int Index);

    Application& app_;
};
