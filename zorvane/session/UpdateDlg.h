#pragma once

#include <string>

#include "Dialog.h"

// The session window.
class CUpdateDlg : public CDialog {
public:
    explicit CUpdateDlg(std::wstring serverListAddress);
    ~CUpdateDlg() override;

protected:
    BOOL OnInitDialog() override;

private:
    std::wstring m_serverListAddress;
};
