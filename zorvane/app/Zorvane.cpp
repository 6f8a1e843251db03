#include "UpdateApp.h"

// The one application object of the program.
CUpdateApp theApp;
