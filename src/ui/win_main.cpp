#include <windows.h>

#include "ui/module1.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  return ui::Module1::main(instance, showCommand);
}
