#pragma once

#include <string>

#include "Dialog.h"
#include "Handle.h"
#include "ProgressPanel.h"
#include "Updater.h"
#include "WinButton.h"

// The updater's window, from dialog resource 102: borderless, skinned, always on
// top. While it initialises it loads the skin, turns its one control into the
// skinned close button, prepares the progress panel, reads the update servers
// and starts the update; then it only paints. The update thread ends it with the
// OK command.
class CPatchDlg : public CDialog {
public:
    CPatchDlg(CUpdater& updater, std::string launchParameter);
    ~CPatchDlg() override;

    // Set by start-up before the modal run: the caption, which is also the key of
    // the single-instance rule.
    std::string m_title;

    // The client size the skin is drawn for.
    static constexpr int CLIENT_WIDTH = 400;
    static constexpr int CLIENT_HEIGHT = 300;
    // Shown where the background bitmap is missing.
    static constexpr COLORREF BACKGROUND_FILL = RGB(30, 54, 88);

protected:
    BOOL OnInitDialog() override;
    void OnDestroy() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void ForceClientSize();
    void OnPaint();
    void OnMouseMove(WPARAM wParam, LPARAM lParam);
    void OnCloseButton();

    CUpdater& m_updater;
    std::string m_launchParameter;
    CWinButton m_closeButton;
    CIconHandle m_icon;
    CProgressPanel m_panel;
};
