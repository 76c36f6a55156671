#include "Studio_App.h"

#include "Edits_3D_Unit.h"
#include "Global_Window.h"
#include "Message_3D_Unit.h"
#include "OpenGL_MSG.h"
#include "Port_3D_Unit.h"
#include "SaveLoad_3D_Unit.h"
#include "Settings_3D_Unit.h"
#include "Skin_3D_Unit.h"
#include "Wait_3D_Unit.h"
#include "link/Port_3D_Unit.h"

namespace bifuel::ui {

std::unique_ptr<TForm_No_OpenGL> CheckOpenGL(OpenGLCheck& check, const Paths& paths) {
    if (check.run()) return nullptr;
    auto window =
        std::make_unique<TForm_No_OpenGL>(ReadNoOpenGLTexts(paths.Work_Dir, paths.Base_Name));
    window->show();
    return window;
}

StudioApp::StudioApp(Scheduler& scheduler, SerialPort& port, Paths paths)
    : ctx_(scheduler, port, std::move(paths)),
      recorder_(ctx_, [&scheduler] { return scheduler.localSeconds(); }) {
    main_ = std::make_unique<TForm_3D_GEN>(ctx_);
    main_->FormCreate();
    port_ = std::make_unique<TForm_3D_Port>(ctx_, main_.get());
    message_ = std::make_unique<TForm_3D_MSG>(ctx_, main_.get());
    wait_ = std::make_unique<TForm_3D_Wait>(main_.get());
    settings_ = std::make_unique<TForm_3D_SET>(ctx_, *main_);
    skin_ = std::make_unique<TForm_3D_Skin>(ctx_, main_.get());
    saveLoad_ = std::make_unique<TForm_3D_SaveLoad>(ctx_, main_.get());
    edits_ = std::make_unique<TForm_3D_Edits>(ctx_, main_.get());
    main_->canClose = [this] { return edits_->CloseAllowed(); };
    edits_->closeMain = [this] { main_->close(); };
    editsKept_ = ctx_.events.editsKept.subscribe([this] { edits_->ShowOffer(); });

    main_->onRefresh = [this] {
        message_->TakeRequests();
        port_->Refresh();
        wait_->Follow(ctx_.view.TForm_3D_Wait);
        settings_->Refresh();
        if (saveLoad_->isVisible()) saveLoad_->Refresh();
    };
    main_->onFontsApplied = [this] {
        if (message_->Message_Shown()) message_->ApplyFonts();
        port_->ApplyFonts();
        if (settings_->isVisible()) settings_->ApplyFonts();
        if (skin_->isVisible()) skin_->ApplyFonts();
        if (saveLoad_->isVisible()) saveLoad_->ApplyFonts();
        if (edits_->isVisible()) edits_->ApplyFonts();
    };
    main_->onSkinChanged = [this] {
        message_->update();
        port_->update();
        settings_->update();
        skin_->RefreshSwatches();
        saveLoad_->update();
    };
    main_->onPortSearch = [this] { StartPortSearch(ctx_); };
    main_->onSettingsButton = [this] { settings_->Show_Settings_Window(); };
    main_->onFlipButton = [this](Qt::MouseButton button) {
        if (button == Qt::LeftButton) main_->Flip();
        if (button == Qt::RightButton) skin_->ShowSkinWindow();
    };
    settings_->onSkinButton = [this] { skin_->ShowSkinWindow(); };
    settings_->onPanelsOpacity = [this](double opacity) {
        skin_->ApplyPanelsOpacity(opacity);
        saveLoad_->ApplyPanelsOpacity(opacity);
    };
    main_->onClosed = [this] {
        // The settings are saved by now: the Settings window only records its place.
        settings_->CloseByMainWindow();
        skin_->hide();
        saveLoad_->hide();
        message_->hide();
        port_->hide();
        wait_->hide();
        edits_->hide();
        if (onEnd) onEnd();
    };
    message_->onEndProgram = [this] { main_->close(); };
    // Messages raised while a reply is handled reach the window's start timer at once.
    messages_ =
        ctx_.events.message.subscribe([this](const MessageRequest&) { message_->TakeRequests(); });
    // File > Save and File > Load.
    saveLoadShown_ =
        ctx_.events.saveLoadShown.subscribe([this] { saveLoad_->ShowSaveLoadWindow(); });
}

StudioApp::~StudioApp() {
    main_->onClosed = nullptr;
    main_->onRefresh = nullptr;
    main_->canClose = nullptr;
}

void StudioApp::Show() {
    main_->show();
    main_->activateWindow();
    // Open when the program last ended: it opens again, where it was.
    if (ctx_.layout.Form_3D_SET_Show) settings_->Show_Settings_Window();
}

} // namespace bifuel::ui
