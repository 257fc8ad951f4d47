// CObject, CCmdTarget and the message maps: static tables of entries, each a message (or command
// notification) with a thunk that calls the handler on the right class. Tables chain to their base.
#pragma once
#include <windows.h>

class CCmdTarget;

// A thunk gets the target and the message with its parameters and returns the message's result.
using AFX_PMSG = LRESULT (*)(CCmdTarget* target, UINT message, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // window message, or WM_COMMAND / WM_NOTIFY with nCode and nID below
    UINT nCode;     // notification code (WM_COMMAND, WM_NOTIFY)
    UINT nID;       // control or command id (WM_COMMAND, WM_NOTIFY); 0 for plain messages
    AFX_PMSG pfn;   // null ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Pseudo message that stands for every WM_CTLCOLORxxx (the class library folds them into one).
constexpr UINT WM_CTLCOLOR = 0x0019;

class CObject {
public:
    virtual ~CObject() = default;
};

class CCmdTarget : public CObject {
public:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }

    // Finds the entry for a message (nID/nCode for commands and notifications) along the chain.
    static const AFX_MSGMAP_ENTRY* FindEntry(const AFX_MSGMAP* map, UINT message, UINT code, UINT id);

    // Runs the handler of a command (WM_COMMAND with code nCode from id nID); false when none.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, WPARAM wParam, LPARAM lParam);
};

#define DECLARE_MESSAGE_MAP()                                \
protected:                                                   \
    static const AFX_MSGMAP* GetThisMessageMap();            \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                              \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                       \
        using ThisClass [[maybe_unused]] = theClass;                        \
        using TheBaseClass = baseClass;                                     \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                   \
            {0, 0, 0, nullptr}};                                            \
        static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries}; \
        return &map;                                                        \
    }

// Builds one entry whose thunk runs `body` with AFX_SELF as the object, m the message, w and l its
// parameters. Handlers are named as member pointers (&CMyDlg::OnSettings), as in the class library.
#define AFX_SELF static_cast<ThisClass*>(t)
#define AFX_ENTRY(msg, code, id, body) \
    {msg, code, id, [](CCmdTarget* t, UINT m, WPARAM w, LPARAM l) -> LRESULT { \
        (void)t; (void)m; (void)w; (void)l; body }},

#define ON_COMMAND(id, fn) AFX_ENTRY(WM_COMMAND, 0, id, (AFX_SELF->*(fn))(); return 0;)
#define ON_CONTROL(code, id, fn) AFX_ENTRY(WM_COMMAND, code, id, (AFX_SELF->*(fn))(); return 0;)
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_CBN_SELENDOK(id, fn) ON_CONTROL(CBN_SELENDOK, id, fn)
#define ON_LBN_SELCHANGE(id, fn) ON_CONTROL(LBN_SELCHANGE, id, fn)
#define ON_NOTIFY(code, id, fn)                                              \
    AFX_ENTRY(WM_NOTIFY, static_cast<UINT>(code), id,                        \
              LRESULT r = 0; (AFX_SELF->*(fn))(reinterpret_cast<NMHDR*>(l), &r); return r;)
#define ON_MESSAGE(msg, fn) AFX_ENTRY(msg, 0, 0, return (AFX_SELF->*(fn))(w, l);)
