#include "install/open_as_user.h"

#include <windows.h>

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <chrono>
#include <memory>
#include <string>

#include "common/bounded_call.h"
#include "common/closer.h"

namespace {

// A desktop shell that does not answer may not hold the worker: past this, nothing is opened.
constexpr auto kDesktopShellBound = std::chrono::seconds(5);

struct ComReleaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComReleaser>;

using UniqueBstr = std::unique_ptr<OLECHAR, Closer<SysFreeString>>;

// COM for this thread for as long as the object lives. Every call that succeeds, S_FALSE (the
// thread had it already) as well as S_OK, is balanced by CoUninitialize; a failed one is not.
class ComApartment {
  public:
    ComApartment()
        : started_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (started_) {
            CoUninitialize();
        }
    }

  private:
    bool started_;
};

template <typename T>
ComPtr<T> Query(IUnknown* object) {
    T* wanted = nullptr;
    if (object == nullptr || FAILED(object->QueryInterface(IID_PPV_ARGS(&wanted)))) {
        return nullptr;
    }
    return ComPtr<T>(wanted);
}

// The desktop window's shell dispatch object, which lives in the shell's process and so
// carries the desktop user's unelevated rights.
ComPtr<IShellDispatch2> DesktopShell() {
    IShellWindows* rawWindows = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&rawWindows)))) {
        return nullptr;
    }
    const ComPtr<IShellWindows> windows(rawWindows);
    VARIANT desktop{};
    desktop.vt = VT_I4;
    desktop.lVal = CSIDL_DESKTOP;
    VARIANT root{};
    long window = 0;
    IDispatch* rawDesktop = nullptr;
    if (windows->FindWindowSW(&desktop, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              &rawDesktop) != S_OK) {
        return nullptr;
    }
    const ComPtr<IDispatch> desktopWindow(rawDesktop);
    const ComPtr<IServiceProvider> services = Query<IServiceProvider>(desktopWindow.get());
    IShellBrowser* rawBrowser = nullptr;
    if (!services ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&rawBrowser)))) {
        return nullptr;
    }
    const ComPtr<IShellBrowser> browser(rawBrowser);
    IShellView* rawView = nullptr;
    if (FAILED(browser->QueryActiveShellView(&rawView))) {
        return nullptr;
    }
    const ComPtr<IShellView> view(rawView);
    IDispatch* rawBackground = nullptr;
    if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&rawBackground)))) {
        return nullptr;
    }
    const ComPtr<IDispatch> background(rawBackground);
    const ComPtr<IShellFolderViewDual> folderView = Query<IShellFolderViewDual>(background.get());
    IDispatch* rawApplication = nullptr;
    if (!folderView || FAILED(folderView->get_Application(&rawApplication))) {
        return nullptr;
    }
    const ComPtr<IDispatch> application(rawApplication);
    return Query<IShellDispatch2>(application.get());
}

bool OpenThroughDesktopShell(const wchar_t* url) {
    const ComPtr<IShellDispatch2> shell = DesktopShell();
    const UniqueBstr file(SysAllocString(url));
    const UniqueBstr verb(SysAllocString(L"open"));
    if (!shell || !file || !verb) {
        return false;
    }
    VARIANT none{};
    VARIANT operation{};
    operation.vt = VT_BSTR;
    operation.bstrVal = verb.get();
    VARIANT show{};
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    return SUCCEEDED(shell->ShellExecute(file.get(), none, none, operation, show));
}

}  // namespace

void OpenAsDesktopUser(const wchar_t* url) {
    // On a thread of its own, which owns a copy of the URL in case it is left behind. No
    // fallback of our own: this process would pick the program from the merged classes, where
    // the user's own registration wins, and start it as administrator.
    (void)CallWithinBound(
        [page = std::wstring(url)] {
            const ComApartment apartment;
            return OpenThroughDesktopShell(page.c_str());
        },
        kDesktopShellBound);
}
