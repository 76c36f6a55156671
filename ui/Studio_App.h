#pragma once

#include "Context.h"
#include "files/Live_Recorder.h"

#include <functional>
#include <memory>

namespace bifuel::ui {

class TForm_3D_Edits;
class TForm_3D_GEN;
class TForm_3D_MSG;
class TForm_3D_Port;
class TForm_3D_SaveLoad;
class TForm_3D_SET;
class TForm_3D_Skin;
class TForm_3D_Wait;
class TForm_No_OpenGL;
class OpenGLCheck;

// The OpenGL check of the program start. On failure the plain error window is made and
// shown, and the program runs with it alone; on success there is no window to keep.
std::unique_ptr<TForm_No_OpenGL> CheckOpenGL(OpenGLCheck& check, const Paths& paths);

// The program's windows over one context, created in the program's order. The scheduler
// and the port belong to the caller.
class StudioApp {
  public:
    StudioApp(Scheduler& scheduler, SerialPort& port, Paths paths);
    ~StudioApp();
    StudioApp(const StudioApp&) = delete;
    StudioApp& operator=(const StudioApp&) = delete;

    // Shows the main window: from here the deferred actions run and the port opens.
    void Show();

    Context& context() { return ctx_; }
    TForm_3D_GEN& main() { return *main_; }
    TForm_3D_MSG& message() { return *message_; }
    TForm_3D_Port& port() { return *port_; }
    TForm_3D_Wait& wait() { return *wait_; }
    TForm_3D_SET& settings() { return *settings_; }
    TForm_3D_Skin& skin() { return *skin_; }
    TForm_3D_SaveLoad& saveLoad() { return *saveLoad_; }
    TForm_3D_Edits& edits() { return *edits_; }

    // The main window closed: the program ends (main() quits the event loop).
    std::function<void()> onEnd;

  private:
    Context ctx_;
    LiveRecorder recorder_; // every connection's live data into Logs/, as the settings say
    std::unique_ptr<TForm_3D_GEN> main_;
    std::unique_ptr<TForm_3D_Port> port_;
    std::unique_ptr<TForm_3D_MSG> message_;
    std::unique_ptr<TForm_3D_Wait> wait_;
    Subscription messages_;
    std::unique_ptr<TForm_3D_SET> settings_;
    std::unique_ptr<TForm_3D_Skin> skin_;
    std::unique_ptr<TForm_3D_SaveLoad> saveLoad_;
    Subscription saveLoadShown_;
    std::unique_ptr<TForm_3D_Edits> edits_;
    Subscription editsKept_;
};

} // namespace bifuel::ui
