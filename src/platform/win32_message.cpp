// Messages on the Win32 API: a message box, the text composed by wsprintfW.
#include <windows.h>

#include "platform/platform.h"

namespace bsb {

void ShowSystemMessage(const unsigned short* text) {
    MessageBoxW(NULL, (LPCWSTR)text, NULL, MB_OK);
}

bool FormatCannotOpen(const unsigned short* path, unsigned short* out) {
    wsprintfW((LPWSTR)out, L"Cannot open file: %s.", (LPCWSTR)path);
    return true;
}

}  // namespace bsb

// Loading and unloading the library need no work.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
