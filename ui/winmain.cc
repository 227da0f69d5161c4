// Kestrune.exe: creates the main dialog and runs the message loop until the
// dialog is destroyed; the loop's exit code is the program's.
#include <windows.h>

#include "ui/main_dialog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HWND dialog = kestrune::ui::CreateMainDialog(instance);
  if (dialog == nullptr) return 1;
  return kestrune::ui::RunMessageLoop(dialog);
}
