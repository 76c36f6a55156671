#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bifuel {

// Plain view state of one control; the user interface renders it, the core owns it.
struct ViewControl {
    bool visible = true;
    bool enabled = true;
    bool pressed = false;
    std::string text;
    std::string colour; // "#AARRGGBB", empty for the general font colour
};

struct ViewBox {
    int y = 0;
    int height = 0;
    bool visible = true;
};

struct ViewProgress {
    int max = 0;
    int value = 0;
};

// One indicator panel of the column: the panel, its name label and its value label.
struct IndicatorView {
    ViewBox panel;
    ViewBox name;
    ViewBox data;
};

enum class WaitForm { Hidden, Large, Corner };

// A request to open the message window; the window shows them in order.
struct MessageRequest {
    int type = 0;
    std::string text;
};

// What the link shows: the port panel, the indicator layout, the auto-calibration
// prompt line and the windows it opens or closes.
struct LinkView {
    ViewControl HudButton_Port_Search;
    ViewControl HudLabel_DynamicIND{.visible = false};
    ViewControl HudLabel_Port_Name;
    ViewControl HudLabel_Port_Connect_Stabil{.text = "0%"};
    ViewControl HudButton_3D_GEN_Connect_Condition{.visible = false};

    ViewControl HudButton_ACB_Start{.enabled = false};
    ViewControl HudButton_CLB_MAP_Start{.enabled = false};
    ViewControl HudButton_CLB_MAP_Stop{.enabled = false};
    ViewControl HudLabel_3D_ACB_Prompt;
    ViewProgress ProgressBar_3D_ACB;
    std::string ACB_Current_Prompt; // the prompt the countdown is appended to

    IndicatorView HudPanel_IND_Petrol{{0, 50}, {2, 20}, {18, 30}};
    IndicatorView HudPanel_IND_Gas{{50, 50}, {2, 20}, {18, 30}};
    IndicatorView HudPanel_IND_RPM{{100, 50}, {2, 20}, {18, 30}};
    IndicatorView HudPanel_IND_TempVap{{150, 50}, {2, 20}, {18, 30}};
    IndicatorView HudPanel_IND_TempGas{{200, 50}, {2, 20}, {18, 30}};
    IndicatorView HudPanel_IND_PressVap{{250, 50}, {2, 20}, {18, 30}};
    IndicatorView HudPanel_IND_PressColl{{300, 50}, {2, 20}, {18, 30}};
    IndicatorView HudPanel_IND_PressDiff{{350, 50}, {2, 20}, {18, 30}};
    int IND_Size_Factor = 1; // 2 when the pressure panels are hidden and the others grow

    WaitForm TForm_3D_Wait = WaitForm::Hidden;
    bool TForm_3D_GEN_Enabled = true;

    std::vector<MessageRequest> Messages; // message window requests, oldest first
};

} // namespace bifuel
