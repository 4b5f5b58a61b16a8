/*
 * resource.h - resource ids of the launcher executable.
 *
 * Shared by thistlerun.rc (Windows) and the launcher's code; kept to plain #defines so
 * that the resource compiler reads it too.
 */
#ifndef THISTLERUN_RESOURCE_H
#define THISTLERUN_RESOURCE_H

#define IDS_APP_TITLE 103   /* string: window title */
#define IDD_ABOUTBOX 103    /* dialog: About */
#define IDM_ABOUT 104       /* command: Help/About (does nothing) */
#define IDM_EXIT 105        /* command: File/Exit (ends the launcher) */
#define IDC_THISTLERUN 109  /* string: window class; accelerator table; menu */
#define IDD_PLEASEWAIT 131  /* dialog: progress bar and "please wait..." */
#define IDI_THISTLERUN 141  /* icon group: the program icon */
#define IDC_PROGRESS 1000   /* progress bar of dialog 131 */
#define IDC_ABOUTLINE2 1001 /* second text line of the About dialog */

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif /* THISTLERUN_RESOURCE_H */
