// The main window: a modeless dialog on template 102.
#pragma once
#include "framework/Framework.h"

class CompositeVideoSourceProvider;

class CLumetraDlg : public CDialogEx {
public:
    explicit CLumetraDlg(BOOL online, CWnd* parent = nullptr);
    ~CLumetraDlg() override = default;

    CompositeVideoSourceProvider* m_provider = nullptr;
    HICON m_icon;
    BOOL m_online;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL PreTranslateMessage(MSG* msg) override;
    BOOL OnInitDialog() override;
    void OnSysCommand(UINT id, LPARAM l);
    void OnClose();

    DECLARE_MESSAGE_MAP()
};
