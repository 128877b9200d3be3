/* Resource ids and version numbers shared by tamsket.rc (windres) and the C++ sources.
   Keep this file to plain #defines: windres's preprocessor does not understand C++. */
#ifndef TAMSKET_RESOURCE_H
#define TAMSKET_RESOURCE_H

#define IDI_TAMSKET 101       /* application icon: 32x32 and 16x16, 16 colours */
#define IDC_POINTING_HAND 102 /* pointer shown over clickable links */

/* FILEVERSION, PRODUCTVERSION and their text, from the project's version. */
#include "version.h"

#endif /* TAMSKET_RESOURCE_H */
