/* Resource ids and version numbers shared by tamsket.rc (windres) and the C++ sources.
   Keep this file to plain #defines: windres's preprocessor does not understand C++. */
#ifndef TAMSKET_RESOURCE_H
#define TAMSKET_RESOURCE_H

#define IDI_TAMSKET 101       /* application icon: 32x32 and 16x16, 16 colours */
#define IDC_POINTING_HAND 102 /* pointer shown over clickable links */

/* FILEVERSION and PRODUCTVERSION are 1.1.0.5; the strings show it as 1.01.0005. */
#define TAMSKET_VERSION_MAJOR 1
#define TAMSKET_VERSION_MINOR 1
#define TAMSKET_VERSION_REVISION 0
#define TAMSKET_VERSION_BUILD 5
#define TAMSKET_VERSION_STRING "1.01.0005"

#endif /* TAMSKET_RESOURCE_H */
