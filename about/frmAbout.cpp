#include "frmAbout.h"
#include "../app/appinfo_record.h"
#include "../app/resource_ids.h"
#include "version_text.h"

using namespace tk;

namespace {
constexpr Color Yellow = Rgb(255, 255, 0);
constexpr Color Red = Rgb(255, 0, 0);
constexpr Color Blue = Rgb(0, 0, 255);
const Font MsSansSerif975{"MS Sans Serif", 9.75f};
const Font MsSansSerif975Underlined{"MS Sans Serif", 9.75f, false, false, true};

// What a screen reader hears: the texts by their captions, the two links as links that the
// keyboard reaches.
const Access TextAccess{.role = Role::StaticText};
const Access LinkAccess{.role = Role::Link, .defaultAction = "Jump", .tabStop = true};

// Timer intervals, in milliseconds. The logo's timer looks at the pointer slowly while the
// logo rests and quickly while it may be following the pointer.
constexpr int LogoRestMs = 200;
constexpr int LogoFollowMs = 50;
constexpr int ScrollStepMs = 50;
constexpr int DisclaimerShownMs = 5000;
}

void frmAbout::Build()
{
    SetDesign({.caption = "About",
               .frame = Frame::FixedToolWindow,
               .clientWidth = 4680,
               .clientHeight = 3195,
               .scale = ScaleMode::Pixels,
               .backColor = Yellow,
               .showInTaskbar = false,
               .placement = Placement::CenterActive});

    Add(picCont, "picCont",
        {.left = 104, .top = 48, .width = 217, .height = 121, .backColor = Yellow, .scale = ScaleMode::Pixels});
    picCont.Add(lblComments, "lblComments",
                {.left = 8, .top = 0, .width = 198, .height = 104, .caption = "Comments", .font = MsSansSerif975,
                 .backColor = Yellow, .alignment = Align::Center, .wordWrap = true, .access = TextAccess});

    Add(lblTit, "lblTit",
        {.left = 96, .top = 0, .width = 217, .height = 33, .caption = "Title",
         .font = {"Arial Black", 18.0f, false, false, true}, .foreColor = Red, .opaque = false,
         .alignment = Align::Center, .autoSize = true, .access = TextAccess});

    Add(imgLogo, "imgLogo",
        {.left = 8, .top = 8, .width = 78, .height = 78, .stretch = true, .pictureResource = IDP_LOGO,
         .access = {.role = Role::Graphic, .name = "Logo"}});
    imgLogo.MouseDown = [this](short b, short s, float x, float y) { imgLogo_MouseDown(b, s, x, y); };
    imgLogo.MouseUp = [this](short b, short s, float x, float y) { imgLogo_MouseUp(b, s, x, y); };

    Add(Label3, "Label3",
        {.left = 4, .top = 88, .width = 93, .height = 13, .caption = "Kestrowe Productions",
         .font = {"Arial", 7.5f, true, true, false}, .foreColor = Blue, .opaque = false, .alignment = Align::Center,
         .autoSize = true, .access = TextAccess});

    Add(Line1, "Line1", {.x1 = 144, .y1 = 192, .x2 = 144, .y2 = 216});

    Add(lblVersion, "lblVersion",
        {.left = 104, .top = 32, .width = 209, .height = 16, .caption = "Version", .font = {"Arial", 9.75f},
         .foreColor = Blue, .opaque = false, .alignment = Align::Center, .autoSize = true, .access = TextAccess});

    Add(lblEmail, "lblEmail",
        {.left = 155, .top = 195, .width = 157, .height = 16, .caption = "E-mail", .font = MsSansSerif975,
         .foreColor = Blue, .opaque = false, .alignment = Align::Right, .autoSize = true,
         .mouseIcon = IDC_HAND_POINTER, .access = LinkAccess});
    lblEmail.Click = [this] { lblEmail_Click(); };

    Add(lblWeb, "lblWeb",
        {.left = 0, .top = 195, .width = 136, .height = 16, .caption = WebSite,
         .font = MsSansSerif975Underlined, .foreColor = Blue, .opaque = false,
         .alignment = Align::Left, .autoSize = true, .mouseIcon = IDC_HAND_POINTER, .access = LinkAccess});
    lblWeb.Click = [this] { lblWeb_Click(); };

    Add(lblCopyright, "lblCopyright",
        {.left = 96, .top = 176, .width = 216, .height = 13, .caption = "Copyright",
         .font = {"MS Sans Serif", 8.25f, true}, .foreColor = Rgb(0, 192, 192), .opaque = false,
         .alignment = Align::Center, .autoSize = true, .access = TextAccess});

    Add(Shape1, "Shape1", {.left = 0, .top = 192, .width = 313, .height = 25, .fillColor = Rgb(255, 128, 0)});

    Add(lblDisc, "lblDisc",
        {.left = 8, .top = 104, .width = 89, .height = 89,
         .caption = "Use this product at your own risk. Do not blame me if anything goes wrong. "
                    "If you don't agree with this, then stop using this product.",
         .font = {"Arial", 6.75f}, .foreColor = Red, .opaque = false, .alignment = Align::Left, .wordWrap = true,
         .toolTip = "Disclaimer", .access = TextAccess});

    AddTimer(tmrHideDisc, {.interval = DisclaimerShownMs});
    tmrHideDisc.OnTimer = [this] { tmrHideDisc_Timer(); };
    AddTimer(tmrScroll, {.interval = ScrollStepMs});
    tmrScroll.OnTimer = [this] { tmrScroll_Timer(); };
    AddTimer(Timer1, {.interval = LogoRestMs});
    Timer1.OnTimer = [this] { Timer1_Timer(); };
}

void frmAbout::Form_Load()
{
    lblTit.SetCaption(std::string(App.Title));
    lblTit.SetAutoSize(true);
    if (lblTit.Width() > lblComments.Width()) {
        lblTit.SetLeft(0);
        lblTit.SetWidth(Width() / float(TwipsPerPixelX()));
    }
    lblVersion.SetCaption(VersionText(App.Major, App.Minor, App.Revision));
    lblComments.SetCaption(std::string(App.Comments));
    lblCopyright.SetCaption(std::string(App.LegalCopyright));
    lblEmail.SetCaption(std::string(ContactEmail));
    lblVersion.SetForeColor(Rgb(0, 0, 255));
    lblCopyright.SetForeColor(Rgb(80, 80, 255));
    picCont.SetBackColor(BackColor());
}

void frmAbout::lblEmail_Click()
{
    backend().shellExecute("Open", "mailto:" + std::string(ContactEmail), "", "", ShowState::Normal);
}

void frmAbout::lblWeb_Click() { backend().shellExecute("Open", WebSite, "", "", ShowState::Normal); }

void frmAbout::imgLogo_MouseDown(short Button, short Shift, float, float)
{
    if (Button == tk::Button::Left && Shift == ShiftKey::Ctrl)
        bFollowCursor = true;
    lblDisc.SetVisible(!lblDisc.Visible());
}

void frmAbout::imgLogo_MouseUp(short, short, float, float)
{
    bFollowCursor = false;
    Timer1.SetInterval(LogoRestMs);
}

void frmAbout::Timer1_Timer()
{
    Timer1.SetInterval(LogoFollowMs);
    const PointPx p = CursorPos();
    ptCursor = {p.x, p.y};
    const float X = float(ptCursor.x) - Left() / float(TwipsPerPixelX());
    const float Y = float(ptCursor.y) - Top() / float(TwipsPerPixelY());
    if (bFollowCursor)
        imgLogo.Move(X - imgLogo.Width() / 2, Y - imgLogo.Height() / 2);
    else
        imgLogo.Move(8, 8);
}

void frmAbout::tmrScroll_Timer()
{
    const float step = 0.5f;
    lblComments.SetAutoSize(true);
    if (lblComments.Height() > picCont.Height()) {
        lblComments.SetTop(lblComments.Top() - step);
        if (lblComments.Top() <= -lblComments.Height())
            lblComments.SetTop(picCont.Height() + 2);
    }
}

void frmAbout::tmrHideDisc_Timer()
{
    lblDisc.SetVisible(false);
    tmrHideDisc.SetEnabled(false);
}
