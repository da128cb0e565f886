/* Identifiers of the resources in corvane.rc; read by the resource compiler and by C++. */
#pragma once

/* The icon all windows share; the lowest icon identifier, so it is also the file's icon. */
#define IDI_CORVANE 1

#define IDB_BANNER 101
#define IDB_BUTTON_OK_UP 111
#define IDB_BUTTON_OK_DOWN 112
#define IDB_BUTTON_CANCEL_UP 113
#define IDB_BUTTON_CANCEL_DOWN 114
#define IDB_BUTTON_YES_UP 115
#define IDB_BUTTON_YES_DOWN 116
#define IDB_BUTTON_NO_UP 117
#define IDB_BUTTON_NO_DOWN 118

/* The hand with raised index finger, the pointer over web links. */
#define IDC_CORVANE_HAND 201
