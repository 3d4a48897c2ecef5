#include "res/DialogTemplate.h"

#include <array>

#include "res/ResourceIds.h"

namespace res {
namespace {

using K = ControlKind;

// Main dialog, in the template's order (tab order).
constexpr std::array kMainControls{
    ControlTemplate{IDC_INPUT_PORT, K::ComboBox, "", 48, 237, 131, 75},
    ControlTemplate{IDC_OUTPUT_PORT, K::ComboBox, "", 32, 23, 111, 77},
    ControlTemplate{IDC_NOTE_RANGE, K::ComboBox, "", 245, 208, 120, 113},
    ControlTemplate{IDC_INSTRUMENT, K::ComboBox, "", 33, 61, 111, 133},
    ControlTemplate{IDC_PIANO, K::Piano, "Piano", 10, 87, 361, 46},
    ControlTemplate{IDC_MESSAGE_LIST, K::ListView, "", 16, 276, 352, 23},
    ControlTemplate{0, K::Label, "输入：", 49, 226, 24, 8},
    // The original label recommends the platform's own synthesizer; ours names the built-in one.
    ControlTemplate{0, K::Label, "输出 (建议选择内置合成器)", 32, 10, 117, 8},
    ControlTemplate{IDC_REDUCE_EXPAND, K::PushButton, "Reduce <<", 303, 245, 53, 15},
    ControlTemplate{0, K::Label, "乐器 (音色选择)", 33, 49, 59, 9},
    ControlTemplate{0, K::GroupBox, "", 9, 82, 364, 52},
    ControlTemplate{0, K::Label, "MIDI message list", 15, 262, 62, 8},
    ControlTemplate{IDC_RECORD, K::IconButton, "Record", 246, 52, 34, 15},
    ControlTemplate{IDC_STOP, K::IconButton, "Stop", 285, 52, 34, 14},
    ControlTemplate{IDC_PLAY, K::IconButton, "Play", 323, 52, 35, 14},
    ControlTemplate{IDC_CLEAR_LIST, K::PushButton, "Clear Message List", 220, 247, 72, 15},
    ControlTemplate{IDC_PROGRESS, K::ProgressBar, "", 247, 30, 111, 14},
    ControlTemplate{0, K::Label, "Note Range", 210, 209, 42, 9},
    ControlTemplate{0, K::GroupBox, "录音/回放", 242, 11, 124, 61},
    ControlTemplate{IDC_BANNER, K::Bitmap, "", 219, 223, 143, 22, IDB_BANNER},
    ControlTemplate{IDC_HINT_WHITE, K::Label, "Z  X  C  V  B  N  M", 68, 224, 63, 8},
    ControlTemplate{IDC_HINT_BLACK, K::LabelNoWrap, "S  D     G  H  J", 134, 224, 26, 8},
    ControlTemplate{IDC_LINK_SITE_ICON, K::LinkIcon, "", 184, 10, 20, 20, IDI_SITE},
    ControlTemplate{IDC_ICON_OUTPUT, K::Icon, "", 8, 17, 20, 20, IDI_OUTPUT},
    ControlTemplate{IDC_ICON_INPUT, K::Icon, "", 16, 228, 20, 20, IDI_INPUT},
    ControlTemplate{IDC_ICON_INSTRUMENT, K::Icon, "", 9, 53, 20, 20, IDI_INSTRUMENT},
    ControlTemplate{IDC_AUTHOR, K::LabelNoWrap, "Author:", 84, 262, 96, 9},
    ControlTemplate{IDC_TITLE, K::LabelNoWrap, "Title:", 188, 262, 185, 9},
    ControlTemplate{IDC_PITCH_NAME, K::Label, "C", 164, 24, 11, 8},
    ControlTemplate{IDC_PITCH, K::VerticalSliderNoTicks, "", 160, 32, 16, 46},
    ControlTemplate{IDC_ADVANCED, K::PushButton, "高阶设置", 150, 207, 46, 13},
    ControlTemplate{IDC_VOLUME, K::VerticalSlider, "", 211, 18, 23, 60},
    ControlTemplate{0, K::Label, "音量", 215, 10, 17, 10},
    ControlTemplate{0, K::Label, "音调", 161, 11, 17, 10},
    ControlTemplate{IDC_LINK_LOGO, K::LinkBitmap, "", 13, 139, 116, 18, IDB_LOGO},
    ControlTemplate{IDC_ANNOUNCEMENT, K::Label, "教你DIY 键乐坊键盘", 222, 144, 145, 10},
    ControlTemplate{IDC_LINK_PRODUCT, K::LinkIcon, "", 199, 139, 20, 20, IDI_PRODUCT},
    ControlTemplate{IDC_TEST, K::PushButton, "Test", 146, 143, 19, 11, 0, false, false},
};

constexpr std::array kInstructionsControls{
    ControlTemplate{1, K::PushButton, "关闭", 70, 79, 38, 14},
    ControlTemplate{0, K::Label, "2.本程序也可使用鼠标弹奏。", 13, 33, 99, 9},
    ControlTemplate{0, K::Label, "1.运行本程序后，插入键乐坊即可自动侦测、   使用电子琴了。", 13,
                    11, 162, 19},
};

// The author and title entry: the caption and the prompt are set when it runs.
constexpr std::array kTextEntryControls{
    ControlTemplate{IDC_ENTRY_PROMPT, K::LabelNoWrap, "", 7, 7, 118, 9},
    ControlTemplate{IDC_ENTRY_TEXT, K::Edit, "", 7, 23, 296, 15},
    ControlTemplate{1, K::PushButton, "OK", 258, 42, 50, 14},
};

constexpr DialogTemplate kMain{IDD_MAIN, "键乐坊 -- 未插设备", 377, 308, kMainControls};
constexpr DialogTemplate kInstructions{IDD_INSTRUCTIONS, "使用说明 键乐坊V1.1 （免费版）", 187, 98,
                                       kInstructionsControls};

constexpr DialogTemplate kTextEntry{IDD_TEXT_ENTRY, "", 315, 63, kTextEntryControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() {
    return kMain;
}

const DialogTemplate& InstructionsDialogTemplate() {
    return kInstructions;
}

const DialogTemplate& TextEntryDialogTemplate() {
    return kTextEntry;
}

}  // namespace res
