// Resource numbers of the plug-in's dialogs and their controls.
#pragma once

#define IDD_MAIN_PAGE 104   // "Tamboril": frequency, priority, loop count, fade-out
#define IDD_MIXER_PAGE 105  // "DRU Mixer": the three levels
#define IDD_INFO_BOX 106    // the file-information box

// Main page
#define IDC_PRIORITY 1001   // thread priority list
#define IDC_FREQUENCY 1002  // frequency list
#define IDC_LOOP_SPIN 1012
#define IDC_LOOP_COUNT 1013
#define IDC_FADEOUT 1014
#define IDC_FADEOUT_SPIN 1015

// Mixer page: each edit's spin follows it
#define IDC_PCM_LEVEL 1029
#define IDC_PCM_SPIN 1030
#define IDC_SSG_LEVEL 1034
#define IDC_SSG_SPIN 1035
#define IDC_FM_LEVEL 1044
#define IDC_FM_SPIN 1045

// File-information box: a read-only edit per tag, numbered as the tags are
// (IDC_INFO_TAG + SongTag), then the song's facts
#define IDC_INFO_TAG 1100
#define IDC_INFO_TRACK 1100
#define IDC_INFO_GAME 1101
#define IDC_INFO_SYSTEM 1102
#define IDC_INFO_AUTHOR 1103
#define IDC_INFO_DATE 1104
#define IDC_INFO_PUBLISHER 1105
#define IDC_INFO_DUMPER 1106
#define IDC_INFO_COMMENT 1107  // several lines, scrolled
#define IDC_INFO_TRACK_JA 1108
#define IDC_INFO_GAME_JA 1109
#define IDC_INFO_SYSTEM_JA 1110
#define IDC_INFO_AUTHOR_JA 1111
#define IDC_INFO_EMULATOR 1112
#define IDC_INFO_FORM 1120
#define IDC_INFO_SIZE 1121
#define IDC_INFO_FM_CLOCK 1122
#define IDC_INFO_PSG_CLOCK 1123
#define IDC_INFO_PASS 1124   // one pass, m:ss.mmm
#define IDC_INFO_LOOP 1125   // where it loops back to
#define IDC_INFO_PLAYS 1126  // what plays: loops and fade included

// The box's words, in each template's language
#define IDS_INFO_NONE 200      // a loop point or chip the song lacks
#define IDS_INFO_FOR_EVER 201  // what plays when the song loops for ever
#define IDS_INFO_BYTES 202     // after the file's size
