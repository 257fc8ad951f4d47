// The login dialog of online mode (template 137): user or facility administrator by tab, name and
// password, the login sequence on "Login". On success it writes the welcome banner into the main
// dialog, shows the main window and ends with 1; the caller then takes the client. Closed without
// a login, it closes every video source and ends the process with exit code 1. UI thread only.
#pragma once
#include "framework/Framework.h"
#include <ctime>
#include <string>

class CendraClient;
class CLumetraDlg;

class CLoginDlg : public CDialogEx {
public:
    // A new client on the service's default endpoint.
    explicit CLoginDlg(CLumetraDlg* mainDlg);
    ~CLoginDlg() override;  // deletes the client unless it was taken

    // Ends the process (exit code 1) when no login succeeded; otherwise the base class's.
    BOOL DestroyWindow() override;

    // The caller's way to take the client over after DoModal; the dialog then owns none.
    CendraClient* ReleaseClient();

    // "Welcome, <user>!  |  <%m/%d/%Y %H:%M of when, local time>", UTF-8.
    static std::string BannerText(const std::string& userIdentifier, std::time_t when);

    CendraClient* m_client;
    CLumetraDlg* m_mainDlg;
    CString m_userName;
    CString m_password;
    bool m_loggedIn = false;
    bool m_isAdmin = false;
    CImage m_logo;  // shown by the picture control while the dialog is open
    CTabCtrl m_userTypeTabs;

protected:
    // The client on baseUrl instead of the default endpoint.
    CLoginDlg(CLumetraDlg* mainDlg, std::string baseUrl);

    BOOL OnInitDialog() override;

    // Seams: the clock of the banner; the end of the process without a login, which lets the
    // devices go as the main window's close does (the recording, every listed source, the live
    // one), then exits with code 1.
    virtual std::time_t Now() { return std::time(nullptr); }
    virtual void ExitWithoutLogin();
    // Takes the logo back from the picture control, with the copy the control may have made.
    void ReleaseLogo();

    void OnBnClickedLogin();
    void OnTcnSelchangeUserType(NMHDR* header, LRESULT* result);
    BOOL OnEraseBkgnd(CDC* dc);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    DECLARE_MESSAGE_MAP()
};
