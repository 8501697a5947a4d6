#include "frmCPanel.h"
#include "../about/frmAbout.h"
#include "../app/frame.h"
#include "../app/resource_ids.h"
#include "../launcher/modControlPanels.h"
#include "quickhelp.h"

using namespace tk;

// Same order as the catalogue.
const std::array<frmCPanel::HotspotBinding, 13> frmCPanel::Bindings{{
    {&frmCPanel::imgMouse, &frmCPanel::imgMouse_MouseMove, &frmCPanel::imgMouse_Click},
    {&frmCPanel::imgClock, &frmCPanel::imgClock_MouseMove, &frmCPanel::imgClock_Click},
    {&frmCPanel::imgKeys, &frmCPanel::imgKeys_MouseMove, &frmCPanel::imgKeys_Click},
    {&frmCPanel::imgGlobe, &frmCPanel::imgGlobe_MouseMove, &frmCPanel::imgGlobe_Click},
    {&frmCPanel::imgKeyboard, &frmCPanel::imgKeyboard_MouseMove, &frmCPanel::imgKeyboard_Click},
    {&frmCPanel::imgHardDisk, &frmCPanel::imgHardDisk_MouseMove, &frmCPanel::imgHardDisk_Click},
    {&frmCPanel::imgComputer, &frmCPanel::imgComputer_MouseMove, &frmCPanel::imgComputer_Click},
    {&frmCPanel::imgDisplay, &frmCPanel::imgDisplay_MouseMove, &frmCPanel::imgDisplay_Click},
    {&frmCPanel::imgRightSpeaker, &frmCPanel::imgRightSpeaker_MouseMove, &frmCPanel::imgRightSpeaker_Click},
    {&frmCPanel::imgModem, &frmCPanel::imgModem_MouseMove, &frmCPanel::imgModem_Click},
    {&frmCPanel::imgCDs, &frmCPanel::imgCDs_MouseMove, &frmCPanel::imgCDs_Click},
    {&frmCPanel::imgLeftSpeaker, &frmCPanel::imgLeftSpeaker_MouseMove, &frmCPanel::imgLeftSpeaker_Click},
    {&frmCPanel::imgMap, &frmCPanel::imgMap_MouseMove, &frmCPanel::imgMap_Click},
}};

void frmCPanel::Layout()
{
    SetDesign({.caption = "Lumeno ControlPanel",
               .frame = Frame::FixedSingle,
               .clientWidth = 6495,
               .clientHeight = 5520,
               .minimizeBox = true,
               .iconResource = IDI_PROGRAM});

    Add(Picture1);
    Picture1.Reset({.left = 45, .top = 60, .width = 6435, .height = 5025, .border = PictureBorder::Sunken,
                    .autoSize = true});
    Picture1.SetPicture(backend().loadPicture(IDP_SCENE));
    Picture1.MouseMove = [this](short b, short s, float x, float y) { Picture1_MouseMove(b, s, x, y); };
    for (std::size_t i = 0; i < Hotspots.size(); ++i) {
        const HotspotEntry& h = Hotspots[i];
        const HotspotBinding& bind = Bindings[i];
        Image& img = this->*bind.control;
        Picture1.Add(img);
        img.Reset({.left = float(h.left), .top = float(h.top), .width = float(h.width), .height = float(h.height)});
        img.MouseMove = [this, bind](short b, short s, float x, float y) { (this->*bind.mouseMove)(b, s, x, y); };
        img.Click = [this, bind] { (this->*bind.click)(); };
    }

    Add(lblInfo);
    lblInfo.Reset({.left = 435, .top = 5190, .width = 135, .height = 195, .caption = "...", .autoSize = true});

    // The icons only hold the pictures that the preview copies; they lie right of the client
    // area and are never shown.
    for (std::size_t i = 0; i < imgIcons.size(); ++i) {
        const bool narrow = i == 2 || i == 9 || i == 11;
        Add(imgIcons[i]);
        imgIcons[i].Reset({.left = 7440, .top = 1080 + 240.0f * float(i), .width = narrow ? 225.0f : 240.0f,
                           .height = 240, .visible = false});
        imgIcons[i].SetPicture(backend().loadPicture(IDP_ICON_FIRST + int(i)));
    }

    Add(imgPreview);
    imgPreview.Reset({.left = 90, .top = 5190, .width = 240, .height = 240});

    Add(lblBack);
    lblBack.Reset({.left = 45, .top = 5160, .width = 6405, .height = 300, .alignment = Align::Center,
                   .border = LabelBorder::Sunken});

    mnufile = {"&File", {&mnuEXIT}, {}};
    mnuEXIT = {"E&xit", {}, [this] { mnuEXIT_Click(); }};
    mnuhelp = {"&Help", {&mnuQuickHelp, &dsh, &mnuAbout}, {}};
    mnuQuickHelp = {"&Quick help", {}, [this] { mnuQuickHelp_Click(); }};
    dsh = {"-", {}, {}};
    mnuAbout = {"&About", {}, [this] { mnuAbout_Click(); }};
    SetMenuBar({&mnufile, &mnuhelp});
}

void frmCPanel::Form_Load() { lblInfo.SetCaption(""); }

void frmCPanel::ShowHotspot(const HotspotEntry& entry)
{
    if (lblInfo.Caption() != entry.title)
        lblInfo.SetCaption(std::string(entry.title));
    imgPreview.SetPicture(imgIcons[std::size_t(entry.iconIndex)].Picture());
}

void frmCPanel::Picture1_MouseMove(short, short, float, float)
{
    if (!lblInfo.Caption().empty())
        lblInfo.SetCaption("");
    imgPreview.SetPicture(nullptr);
}

void frmCPanel::Launch(const HotspotEntry& entry) { modControlPanels::ShowControlPanel(entry.appletNumber); }

void frmCPanel::mnuEXIT_Click() { app_.End(); }

void frmCPanel::mnuQuickHelp_Click()
{
    backend().messageBox(QuickHelpText(), "Quick help", MsgBoxStyle::Information | MsgBoxStyle::OkOnly);
}

void frmCPanel::mnuAbout_Click() { app_.AboutWindow().Show(); }
