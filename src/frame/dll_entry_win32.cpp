// dll_entry_win32.cpp - the library entry on Windows: thread notifications
// are switched off; all state is set up by OXT_init_get_files.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
