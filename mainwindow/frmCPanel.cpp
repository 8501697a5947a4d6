#include "frmCPanel.h"
#include "../about/frmAbout.h"
#include "../app/frame.h"
#include "../app/resource_ids.h"
#include "../launcher/modControlPanels.h"
#include "quickhelp.h"

using namespace tk;

void frmCPanel::Build()
{
    SetDesign({.caption = "Lumeno ControlPanel",
               .frame = Frame::FixedSingle,
               .clientWidth = 6495,
               .clientHeight = 5520,
               .minimizeBox = true,
               .iconResource = IDI_PROGRAM});

    Add(Picture1, "Picture1",
        {.left = 45, .top = 60, .width = 6435, .height = 5025, .border = PictureBorder::Sunken, .autoSize = true,
         .pictureResource = IDP_SCENE});
    Picture1.MouseMove = [this](short b, short s, float x, float y) { Picture1_MouseMove(b, s, x, y); };
    for (int i = 0; i < imgHotspot.Count(); ++i) {
        const HotspotEntry& h = Hotspots[std::size_t(i)];
        // A screen reader hears each as a button named as the strip names it; the keyboard
        // reaches each.
        Picture1.Add(imgHotspot(i), h.control,
                     {.left = float(h.left), .top = float(h.top), .width = float(h.width), .height = float(h.height),
                      .access = {.role = Role::PushButton, .name = h.title, .defaultAction = "Open",
                                 .tabStop = true}});
    }
    imgHotspot.MouseMove = [this](int i, short b, short s, float x, float y) { imgHotspot_MouseMove(i, b, s, x, y); };
    imgHotspot.GotFocus = [this](int i) { imgHotspot_GotFocus(i); };
    imgHotspot.Click = [this](int i) { imgHotspot_Click(i); };

    // The strip's title, read as text; a reader hears it change with the hotspot under the pointer.
    Add(lblInfo, "lblInfo", {.left = 435, .top = 5190, .width = 135, .height = 195, .caption = "...", .autoSize = true,
                             .access = {.role = Role::StaticText}});

    // The icons only hold the pictures that the preview copies; they lie right of the client
    // area and are never shown.
    for (int i = 0; i < imgIcons.Count(); ++i) {
        const bool narrow = i == 2 || i == 9 || i == 11;
        Add(imgIcons(i), "imgIcons(" + std::to_string(i) + ")",
            {.left = 7440, .top = 1080 + 240.0f * float(i), .width = narrow ? 225.0f : 240.0f, .height = 240,
             .visible = false, .pictureResource = IDP_ICON_FIRST + i});
    }

    Add(imgPreview, "imgPreview", {.left = 90, .top = 5190, .width = 240, .height = 240});
    Add(lblBack, "lblBack",
        {.left = 45, .top = 5160, .width = 6405, .height = 300, .alignment = Align::Center,
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

// The pointer over a hotspot, or the keyboard's focus on it: its title and icon in the strip.
void frmCPanel::imgHotspot_MouseMove(int Index, short, short, float, float) { ShowInStrip(Index); }

void frmCPanel::imgHotspot_GotFocus(int Index) { ShowInStrip(Index); }

void frmCPanel::ShowInStrip(int Index)
{
    const HotspotEntry& entry = Hotspots[std::size_t(Index)];
    if (lblInfo.Caption() != entry.title)
        lblInfo.SetCaption(std::string(entry.title));
    imgPreview.SetPicture(imgIcons(entry.iconIndex).Picture());
}

void frmCPanel::imgHotspot_Click(int Index)
{
    modControlPanels::ShowControlPanel(Hotspots[std::size_t(Index)].appletNumber);
}

void frmCPanel::Picture1_MouseMove(short, short, float, float)
{
    if (!lblInfo.Caption().empty())
        lblInfo.SetCaption("");
    imgPreview.SetPicture(nullptr);
}

void frmCPanel::mnuEXIT_Click() { app_.End(); }

void frmCPanel::mnuQuickHelp_Click()
{
    backend().messageBox(QuickHelpText(), "Quick help", MsgBoxStyle::Information | MsgBoxStyle::OkOnly);
}

void frmCPanel::mnuAbout_Click() { app_.AboutWindow().Show(); }
