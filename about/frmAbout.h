// The About window: title, version, comments, copyright, logo, disclaimer and two links on a
// yellow tool window, with three timer-driven animations. Controls are measured in pixels;
// the window's own Left, Top and Width are twips. bFollowCursor and ptCursor belong to the
// object and outlive each load of the window.
#pragma once
#include "toolkit/form.h"
#include <cstdint>

class frmAbout : public tk::Form {
public:
    struct POINTAPI {
        std::int32_t x = 0, y = 0;
    };

    // Controls in z-order, topmost first (picCont, a picture box, is drawn above the rest).
    tk::PictureBox picCont;
    tk::Label lblComments; // inside picCont
    tk::Label lblTit;
    tk::Image imgLogo;
    tk::Label Label3;
    tk::Line Line1;
    tk::Label lblVersion;
    tk::Label lblEmail;
    tk::Label lblWeb;
    tk::Label lblCopyright;
    tk::Shape Shape1;
    tk::Label lblDisc;
    tk::Timer tmrHideDisc, tmrScroll, Timer1;

    bool bFollowCursor = false;
    POINTAPI ptCursor;

    void Form_Load() override;
    void lblEmail_Click();
    void lblWeb_Click();
    void imgLogo_MouseDown(short Button, short Shift, float X, float Y);
    void imgLogo_MouseUp(short Button, short Shift, float X, float Y);
    void Timer1_Timer();
    void tmrScroll_Timer();
    void tmrHideDisc_Timer();

private:
    void Build() override;
};
