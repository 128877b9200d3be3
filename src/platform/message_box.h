#pragma once

// The system message box, 8-bit form.
namespace platform {

inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbIconError = 0x10;

// MessageBoxA: the id of the button pressed, 0 when the box could not be shown.
int messageBoxA(void* owner, const char* text, const char* caption, unsigned type);

}  // namespace platform
