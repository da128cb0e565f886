/* Identifiers of the ribbon buttons' pictures in ribbon.rc; read by the resource compiler and by C++. */
#pragma once

#define IDI_RIBBON_FORMAT 301
#define IDI_RIBBON_REMOVE 302
#define IDI_RIBBON_CALIBRATE 303
#define IDI_RIBBON_SETTINGS 304
#define IDI_RIBBON_ABOUT 305
#define IDI_RIBBON_HELP 306
