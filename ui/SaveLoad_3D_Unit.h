#pragma once

#include "Hud_Window.h"

class QLineEdit;
class QListWidget;
class QTableWidget;

namespace bifuel::ui {

// The Save/Load window: the configuration files of the Config folder, the name to save or
// load and the button that runs it; before a load on a connected ECU, the differences
// between the file and the ECU with a tick for each. It draws the core's SaveLoadView and
// hands every action to the core.
class TForm_3D_SaveLoad : public HudToolWindow {
  public:
    static constexpr int kDesignWidth = 200;
    static constexpr int kDesignHeight = 353;
    static constexpr int kMinWidth = 200;
    static constexpr int kMinHeight = 200;
    // The difference view needs room for a caption and two values per row.
    static constexpr int kDiffWidth = 470;
    static constexpr int kDiffHeight = 440;

    TForm_3D_SaveLoad(Context& ctx, QWidget* mainWindow);

    // Opens the window at the main window's left, 22 below its top, as the core's view
    // says (save or load).
    void ShowSaveLoadWindow();
    // Draws the core's view: the list or the difference view; hides the window when the
    // core has closed it.
    void Refresh();
    void ApplyTexts();
    void ApplyFonts();
    void ApplyPanelsOpacity(double opacity);

    // Controls, for tests.
    QListWidget* list() { return list_; }
    QLineEdit* nameBox() { return name_; }
    HudButton* runButton() { return run_; }
    HudLabel* messageLabel() { return message_; }
    QTableWidget* diffTable() { return table_; }
    HudLabel* diffPrompt() { return prompt_; }
    HudButton* loadAllButton() { return loadAll_; }
    HudButton* loadTickedButton() { return loadTicked_; }
    HudButton* cancelButton() { return cancel_; }
    bool diffShown() const { return diffShown_; }

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void build();
    void buildListPage();
    void buildDiffPage();
    void connectControls();
    void showPage(bool diff);
    void fillList();
    void fillDiff();
    void fitColumns();
    void applyDiffTexts();
    QString message() const;
    void HudStringListBox_3D_SL_ListClick(int row);
    void HudTextBox_3D_SL_NameChange(const QString& text);
    void HudButton_3D_SL_RunClick();

    QWidget* main_;
    bool filling_ = false;
    bool diffShown_ = false;

    DesignLayout* listPage_ = nullptr;
    QListWidget* list_ = nullptr; // HudStringListBox_3D_SL_List
    QLineEdit* name_ = nullptr;   // HudTextBox_3D_SL_Name
    HudLabel* message_ = nullptr; // the refused name, file or save
    HudButton* run_ = nullptr;    // HudButton_3D_SL_Run

    DesignLayout* diffPage_ = nullptr;
    HudLabel* prompt_ = nullptr;
    QTableWidget* table_ = nullptr;
    HudButton* loadAll_ = nullptr;
    HudButton* loadTicked_ = nullptr;
    HudButton* cancel_ = nullptr;
};

} // namespace bifuel::ui
