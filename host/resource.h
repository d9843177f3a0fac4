// Resource numbers of the plug-in's dialogs and their controls.
#pragma once

#define IDD_MAIN_PAGE 104   // "Tamboril": frequency, priority, loop count, fade-out
#define IDD_MIXER_PAGE 105  // "DRU Mixer": the three levels

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
