#include <windows.h>

#include "WinApp.h"

// The entry point of every program built on the framework: it runs the one
// global application object.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    CWinApp* app = CWinApp::Current();
    if (!app)
        return 1;
    return app->Main(instance);
}
