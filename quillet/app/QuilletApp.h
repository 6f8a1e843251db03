#pragma once

#include <string>

#include "StartupRules.h"
#include "Updater.h"
#include "WinApp.h"

// The application object. All of its work happens in InitInstance, which always
// answers false, so the process ends when it returns: it fixes the working folder,
// takes the launch parameter, refuses a second instance, and then either copies
// the program to "Quillet.san" and starts the copy (launcher) or, running as the
// copy, shows the updater window and hands over to the hall (worker).
class CQuilletApp : public CWinApp {
public:
    explicit CQuilletApp(CUpdater& updater);

    BOOL InitInstance() override;

    std::string m_launchParameter = TEXT_HALL_PARAMETER;
    GameNumbers m_numbers;
    std::string m_title;
    std::string m_copyPath;

private:
    void HandOverAfter(INT_PTR modalResult);

    CUpdater& m_updater;
};
