// Dialogs from resource templates, modeless (Create) or modal (DoModal), with data exchange and
// the dynamic layout that a template's layout resource describes.
#pragma once
#include "framework/ResourceTypes.h"
#include "framework/Window.h"
#include <vector>

class CDataExchange {
public:
    CDataExchange(CWnd* dlg, BOOL save) : m_bSaveAndValidate(save), m_pDlgWnd(dlg) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds a dialog control to its C++ object by subclassing it (once); a missing control is skipped.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

class CDialog : public CWnd {
public:
    CDialog() = default;
    explicit CDialog(UINT idTemplate, CWnd* parent = nullptr) : m_nIDTemplate(idTemplate), m_pParentWnd(parent) {}

    // Modeless: creates the window (initialisation runs inside), owned by parent.
    virtual BOOL Create(UINT idTemplate, CWnd* parent = nullptr);
    // Modal: owner is the parent, else the application's main window, disabled for the loop and
    // enabled after. The application's idle handler keeps running while the dialog is up.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    BOOL OnCmdMsg(UINT id, int code, WPARAM w, LPARAM l) override;
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

    UINT m_nIDTemplate = 0;
    CWnd* m_pParentWnd = nullptr;
    int m_nModalResult = -1;

private:
    struct LayoutItem {
        HWND control;
        RECT initial;
        int moveX, moveY, sizeX, sizeY;
    };
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
    HWND CreateFromTemplate(HWND owner);
    void RunModalLoop();
    // Adds the template's combo-box strings (RT_DLGINIT_DATA_ID), when it has any.
    void AddInitialStrings();
    void LoadLayout();
    void ApplyLayout();

    bool m_modal = false;
    bool m_endModal = false;
    SIZE m_layoutBase{};
    std::vector<LayoutItem> m_layout;

    DECLARE_MESSAGE_MAP()
};

class CDialogEx : public CDialog {
public:
    CDialogEx() = default;
    explicit CDialogEx(UINT idTemplate, CWnd* parent = nullptr) : CDialog(idTemplate, parent) {}
};
