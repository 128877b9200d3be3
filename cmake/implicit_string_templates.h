// Force-included into the Windows program's sources. libstdc++ normally
// declares its string classes as instantiated inside the library, so any use
// links whole objects holding every member of std::string and std::wstring,
// plus the exception and locale code they refer to (about 230 KiB static).
// Instantiating them here instead compiles only the members the program uses.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
