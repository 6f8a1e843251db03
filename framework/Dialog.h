#pragma once

#include <windows.h>

// A dialog made from a dialog template resource and run modally. The window is
// bound to the object when it is created and unbound when it is destroyed; the
// static dialog procedure forwards every message to the object.
class CDialog {
public:
    explicit CDialog(UINT templateId, HWND parent = nullptr) noexcept;
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Creates the window and runs its message loop until EndDialog is called or a
    // quit request (WM_QUIT) arrives; the window is destroyed before it returns.
    // Answers the result given to EndDialog, or -1 after a quit request or when the
    // window cannot be created.
    INT_PTR DoModal();
    // Ends the modal run with a result.
    void EndDialog(INT_PTR result) noexcept;

    HWND GetSafeHwnd() const noexcept { return m_hWnd; }

protected:
    // Runs on WM_INITDIALOG; true lets the system set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // The Enter key and an IDOK command.
    virtual void OnOK() { EndDialog(IDOK); }
    // The Esc key, IDCANCEL and the system close command.
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // The window is being destroyed.
    virtual void OnDestroy() {}
    // Every message comes here first: answer true with the message's result when
    // it is handled, false for the default handling.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // A handler let an exception out while the window handled message. No
    // exception crosses the dialog procedure into the system's code: it ends
    // there, the message counts as not handled, and this is called (with no
    // exception of its own allowed). By default nothing more happens.
    virtual void OnException(UINT message) noexcept;

    // True from DoModal's start until EndDialog or a quit request ends the run.
    bool InModalRun() const noexcept { return m_inModal; }

    HWND m_hWnd = nullptr;
    UINT m_templateId;
    HWND m_parent;

private:
    static INT_PTR CALLBACK DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    bool m_inModal = false;
    INT_PTR m_result = -1;
};
