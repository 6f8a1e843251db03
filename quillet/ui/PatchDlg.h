#pragma once

#include <string>

#include "Dialog.h"
#include "Updater.h"

// The updater's window, from dialog resource 102. It shows the window title,
// hands the update folder and the server list to the updater, publishes its
// handle and starts the update; the update thread ends it with the OK command.
class CPatchDlg : public CDialog {
public:
    CPatchDlg(CUpdater& updater, std::string launchParameter);

    // Set by start-up before the modal run: the caption, which is also the key of
    // the single-instance rule.
    std::string m_title;

protected:
    BOOL OnInitDialog() override;

    CUpdater& m_updater;
    std::string m_launchParameter;
};
