#include "QuilletApp.h"

// The one updater, made before the application object and so destroyed after
// it: its destruction ends an update that still runs when the process ends.
CUpdater theUpdater;
CQuilletApp theApp(theUpdater);
