#include "frame.h"
#include "../about/frmAbout.h"
#include "../mainwindow/frmCPanel.h"
#include "toolkit/form.h"

Application::Application() : main_(std::make_unique<frmCPanel>(*this)) {}

Application::~Application() = default;

bool Application::Start() { return main_->Show(); }

frmAbout& Application::AboutWindow()
{
    if (!about_)
        about_ = std::make_unique<frmAbout>();
    return *about_;
}

void Application::End() { tk::EndProgram(); }
