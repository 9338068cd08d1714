#pragma once
// Fixed command, control and pane ids of the main window. They are the wx ids of the menu items,
// tools and status panes; wx reserves only 4999..5999 for itself, so none of these collide.

#include "chips/ChipCatalogue.h"

constexpr int ID_READ_FLASH = 32771;
constexpr int ID_WRITE_DEVICE = 32772;
constexpr int ID_LOCK_BITS = 32774;
constexpr int ID_OPEN_HEX_FILE = 32775;
constexpr int ID_RELOAD_FILES = 32778;
constexpr int ID_HELP_INSTALLATION = 32779;
constexpr int ID_HELP_INDEX = 32780;
constexpr int ID_HELP_TUTORIAL = 32781;
constexpr int ID_HELP_READING = 32782;
constexpr int ID_CHIP_DUMMY = 32783;
constexpr int ID_PROGRAMMING_SPEED = 32784;
// The chip commands, one per catalogue record in its order: the id minus ID_CHIP_FIRST is the index.
constexpr int ID_CHIP_FIRST = 36865;
constexpr int ID_CHIP_LAST = ID_CHIP_FIRST + CHIP_COUNT - 1;

constexpr int ID_FILE_NEW = 57600;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_SAVE = 57603;
constexpr int ID_EDIT_COPY = 57634;
constexpr int ID_EDIT_CUT = 57635;
constexpr int ID_EDIT_PASTE = 57637;
constexpr int ID_EDIT_UNDO = 57643;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
constexpr int ID_NEXT_PANE = 57680;
constexpr int ID_PREV_PANE = 57681;
constexpr int ID_VIEW_TOOLBAR = 59392;
constexpr int ID_VIEW_STATUS_BAR = 59393;

constexpr int ID_INDICATOR_CHIP = 61204;
constexpr int ID_INDICATOR_SIZE = 61205;

constexpr int ID_VIEW_SCROLLBAR = 1001;

// Resource numbers of the pictures (res/ResourceData.h).
constexpr int IDR_MAINFRAME = 128;
constexpr int IDB_ROW_ICONS = 136;
constexpr int IDI_PROGRAMMER = 138;
constexpr int IDI_CHIP = 140;
constexpr int IDR_READ_ANIMATION = 142;
constexpr int IDB_SPLASH = 144;
constexpr int IDR_BURN_ANIMATION = 146;
constexpr int IDB_TOOLBAR = 150;
