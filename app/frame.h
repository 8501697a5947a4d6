// The application frame: creates and shows the main window at start, holds the one About
// window object from its first use to the end, and ends the program.
#pragma once
#include <memory>

class frmCPanel;
class frmAbout;

class Application {
public:
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    bool Start();              // loads and shows the main window; false when it cannot be made
    frmAbout& AboutWindow();   // the About window object, created on first use
    void End();                // every window closes at once; the event loop then ends

    frmCPanel& MainWindow() { return *main_; }
    frmAbout* AboutWindowIfCreated() { return about_.get(); }

private:
    std::unique_ptr<frmCPanel> main_;
    std::unique_ptr<frmAbout> about_; // never emptied once set
};
