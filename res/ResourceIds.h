#pragma once

// Identifiers of the program's resources: dialogs, controls, menu commands, images, strings.

namespace res {

// Dialog templates.
constexpr int IDD_MAIN = 102;
constexpr int IDD_INSTRUCTIONS = 165;
constexpr int IDD_TEXT_ENTRY = 162;

// Controls of the main dialog.
constexpr int IDC_INPUT_PORT = 1006;
constexpr int IDC_OUTPUT_PORT = 1007;
constexpr int IDC_NOTE_RANGE = 1020;
constexpr int IDC_INSTRUMENT = 1010;
constexpr int IDC_PIANO = 1048;
constexpr int IDC_MESSAGE_LIST = 1005;
constexpr int IDC_REDUCE_EXPAND = 1008;
constexpr int IDC_RECORD = 1014;
constexpr int IDC_STOP = 1015;
constexpr int IDC_PLAY = 1016;
constexpr int IDC_CLEAR_LIST = 1017;
constexpr int IDC_PROGRESS = 1018;
constexpr int IDC_BANNER = 1019;
constexpr int IDC_HINT_WHITE = 1028;
constexpr int IDC_HINT_BLACK = 1027;
constexpr int IDC_LINK_SITE_ICON = 1049;
constexpr int IDC_ICON_OUTPUT = 1051;
constexpr int IDC_ICON_INPUT = 1052;
constexpr int IDC_ICON_INSTRUMENT = 1053;
constexpr int IDC_AUTHOR = 1057;
constexpr int IDC_TITLE = 1056;
constexpr int IDC_PITCH_NAME = 1059;
constexpr int IDC_PITCH = 1058;
constexpr int IDC_ADVANCED = 1026;
constexpr int IDC_VOLUME = 1060;
constexpr int IDC_LINK_LOGO = 1062;
constexpr int IDC_ANNOUNCEMENT = 1063;
constexpr int IDC_LINK_PRODUCT = 1064;
constexpr int IDC_TEST = 1065;

// Controls of the text-entry dialog.
constexpr int IDC_ENTRY_TEXT = 1055;
constexpr int IDC_ENTRY_PROMPT = 1056;

// Menu 134 commands.
constexpr int IDR_MAIN_MENU = 134;
constexpr int ID_FILE_OPEN = 32774;
constexpr int ID_FILE_SAVE_AS = 32775;
constexpr int ID_FILE_SAVE = 32776;
constexpr int ID_FILE_NEW = 32777;
constexpr int ID_AUTHOR_TITLE = 32778;
constexpr int ID_INSTRUCTIONS = 32773;
constexpr int ID_WEB_SITE = 32779;
constexpr int ID_EMAIL = 32780;
constexpr int IDM_ABOUTBOX = 16;

// Images.
constexpr int IDI_APP = 128;
constexpr int IDI_PLAY = 136;
constexpr int IDI_STOP = 139;
constexpr int IDI_RECORD = 140;
constexpr int IDI_OUTPUT = 154;
constexpr int IDI_SITE = 156;
constexpr int IDI_INSTRUMENT = 158;
constexpr int IDI_INPUT = 160;
constexpr int IDI_PRODUCT = 170;
constexpr int IDB_BANNER = 131;
constexpr int IDB_LOGO = 169;
constexpr int IDC_KEYPRESS_CURSOR = 145;

// Strings.
constexpr int IDS_ABOUTBOX = 101;

}  // namespace res
