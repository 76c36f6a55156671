#pragma once

#include "Hud_Widgets.h"
#include "link/Port_3D_Unit.h"

#include <QDialog>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QComboBox;

namespace bifuel {
class Context;
}

namespace bifuel::ui {

// The port search window, drawn from the core's port view: the searching look (text and a
// turning indicator) or the list look (count, port tried, progress and the list).
class TForm_3D_Port : public QWidget {
  public:
    TForm_3D_Port(Context& ctx, QWidget* mainWindow);
    void Refresh();
    void ApplyFonts();

    HudLabel* searchLabel() { return search_; }
    HudBusy* indicator() { return busy_; }
    HudLabel* countData() { return numData_; }
    HudLabel* nameData() { return nameData_; }
    HudLabel* number() { return number_; }
    HudProgress* progress() { return progress_; }
    HudLabel* memo() { return memo_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void placeOverMain();
    Context& ctx_;
    QWidget* main_;
    DesignLayout* panel_ = nullptr;
    HudLabel* search_ = nullptr;
    HudBusy* busy_ = nullptr;
    HudLabel* numLabel_ = nullptr;
    HudPanel* numPanel_ = nullptr;
    HudLabel* numData_ = nullptr;
    HudLabel* nameLabel_ = nullptr;
    HudPanel* namePanel_ = nullptr;
    HudLabel* nameData_ = nullptr;
    HudLabel* number_ = nullptr;
    HudProgress* progress_ = nullptr;
    HudPanel* memoPanel_ = nullptr;
    HudLabel* memo_ = nullptr;
    HudButton* close_ = nullptr;
    bool closingByProgram_ = false;
    QPoint dragOffset_;
};

// The manual port dialog "Setup": port, baud rate, data bits, stop bits, parity and flow
// control, preset from the current port. It offers the ports the program lists, and a
// name typed by hand.
class PortSetupDialog : public QDialog {
  public:
    PortSetupDialog(const std::vector<std::string>& ports, const std::string& portName,
                    const PortLineSettings& line, QWidget* parent = nullptr);
    std::string portName() const;
    PortLineSettings lineSettings() const;
    QComboBox* portBox() { return port_; }
    QComboBox* baudBox() { return baud_; }
    QComboBox* dataBitsBox() { return dataBits_; }
    QComboBox* stopBitsBox() { return stopBits_; }
    QComboBox* parityBox() { return parity_; }
    QComboBox* flowBox() { return flow_; }

    // Runs the dialog; the choice, or nothing when cancelled.
    struct Choice {
        std::string name;
        PortLineSettings line;
    };
    static std::optional<Choice> Ask(const std::vector<std::string>& ports,
                                     const std::string& portName, const PortLineSettings& line,
                                     QWidget* parent);

  private:
    QComboBox* port_;
    QComboBox* baud_;
    QComboBox* dataBits_;
    QComboBox* stopBits_;
    QComboBox* parity_;
    QComboBox* flow_;
};

} // namespace bifuel::ui
