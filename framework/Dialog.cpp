#include "Dialog.h"

#include "WinApp.h"

CDialog::CDialog(UINT templateId, HWND parent) noexcept : m_templateId(templateId), m_parent(parent)
{
}

CDialog::~CDialog()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

void CDialog::OnException(UINT) noexcept
{
}

void CDialog::EndDialog(INT_PTR result) noexcept
{
    m_result = result;
    m_inModal = false;
    if (m_hWnd)
        ::PostMessageW(m_hWnd, WM_NULL, 0, 0); // wakes the modal loop
}

INT_PTR CDialog::DoModal()
{
    m_result = -1;
    m_inModal = true;
    HWND wnd = ::CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_templateId), m_parent, DialogProc,
                                    reinterpret_cast<LPARAM>(this));
    if (!wnd) {
        m_inModal = false;
        return -1;
    }
    bool parentDisabled = false;
    if (m_parent && ::IsWindowEnabled(m_parent)) {
        ::EnableWindow(m_parent, FALSE);
        parentDisabled = true;
    }
    if (m_inModal && !::IsWindowVisible(wnd))
        ::ShowWindow(wnd, SW_SHOWNORMAL);

    MSG msg;
    while (m_inModal && m_hWnd) {
        BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) {
            m_result = -1; // a quit request ends the modal run
            break;
        }
        if (!m_hWnd || !::IsDialogMessageW(m_hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    m_inModal = false;

    if (parentDisabled)
        ::EnableWindow(m_parent, TRUE);
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
    return m_result;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(wnd, DWLP_USER, lParam);
        self->m_hWnd = wnd;
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(wnd, DWLP_USER));
    }
    if (!self)
        return FALSE;
    INT_PTR answer = FALSE;
    try {
        answer = self->Dispatch(message, wParam, lParam);
    } catch (...) {
        self->OnException(message);
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(wnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return answer;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (OnMessage(message, wParam, lParam, result)) {
        switch (message) {
        // These answer through the procedure's own return value.
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
            return static_cast<INT_PTR>(result);
        default:
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
    }

    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        if (lParam == 0 || HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == IDOK) {
                OnOK();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
        }
        return FALSE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}
