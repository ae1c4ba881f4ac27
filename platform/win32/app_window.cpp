#include "platform/app_window.h"

#include <windows.h>

namespace lanfeed {

// The 32-bit build must produce the 48-byte record that the window manager
// expects (the size the registration states in cbSize).
static_assert(sizeof(void*) != 4 || sizeof(WNDCLASSEXW) == 48, "WNDCLASSEXW has its 32-bit size");

namespace {

// The registered description, for the window procedure (the class has no
// extra bytes to carry it). One main window class per program.
AppWindowClass g_class;

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      UINT command = LOWORD(wparam);
      if (command == g_class.about_command) {
        DialogBoxW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(g_class.about_dialog_id), window,
                   AboutProc);
        return 0;
      }
      if (command == g_class.exit_command) {
        DestroyWindow(window);
        return 0;
      }
      break;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

bool RegisterAppWindowClass(const AppWindowClass& description) {
  g_class = description;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = FrameProc;
  window_class.cbClsExtra = 0;
  window_class.cbWndExtra = 0;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(description.icon_id));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  window_class.lpszMenuName = MAKEINTRESOURCEW(description.menu_id);
  window_class.lpszClassName = description.class_name;
  window_class.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(description.small_icon_id));
  return RegisterClassExW(&window_class) != 0;
}

}  // namespace lanfeed
