#include "platform/message_box.h"

#include <windows.h>

namespace platform {

int messageBoxA(void* owner, const char* text, const char* caption, unsigned type) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

}  // namespace platform
