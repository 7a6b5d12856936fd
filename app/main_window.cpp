#include "app/main_window.h"

#include <commctrl.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <system_error>
#include <thread>
#include <type_traits>

#include "app/progress_sink.h"
#include "app/window_math.h"
#include "install/install_worker.h"
#include "record/register_product.h"

HINSTANCE g_instance = nullptr;

namespace {

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { (void)DeleteObject(object); }
};
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

struct MemoryDcDeleter {
    void operator()(HDC dc) const { (void)DeleteDC(dc); }
};
using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

// Pairs BeginPaint with EndPaint.
class PaintScope {
  public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintScope() { (void)EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC dc() const { return dc_; }
    const RECT& updateRect() const { return paint_.rcPaint; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

constexpr wchar_t kPictureFailedText[] = L"背景图加载失败！";
constexpr wchar_t kErrorCaption[] = L"错误";
constexpr wchar_t kWorkerFailedText[] = L"安装任务无法启动，请关闭窗口后重新运行安装程序。";
constexpr wchar_t kPercentFormat[] = L"下载进度：%d%%";
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBarColour = RGB(117, 130, 225);
constexpr RECT kPercentRect{8, 276, 560, 300};

UniqueBitmap g_picture;

void DrawPicture(HDC target, const RECT& client) {
    const UniqueMemoryDc memory(CreateCompatibleDC(target));
    const HGDIOBJ previous = SelectObject(memory.get(), g_picture.get());
    BITMAP picture{};
    (void)GetObjectW(g_picture.get(), sizeof(picture), &picture);
    (void)StretchBlt(target, 0, 0, client.right - client.left, client.bottom - client.top,
                     memory.get(), 0, 0, picture.bmWidth, picture.bmHeight, SRCCOPY);
    (void)SelectObject(memory.get(), previous);
}

void Paint(HWND window) {
    const PaintScope paint(window);
    RECT client{};
    (void)GetClientRect(window, &client);
    if (g_picture) {
        DrawPicture(paint.dc(), client);
    } else {
        (void)FillRect(paint.dc(), &paint.updateRect(),
                       reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
    }

    (void)SetBkMode(paint.dc(), TRANSPARENT);
    (void)SetTextColor(paint.dc(), kWhite);
    RECT glyph{client.right - kGlyphLeftInset, kGlyphTop, client.right - kGlyphRightInset,
               kGlyphBottom};
    (void)DrawTextW(paint.dc(), L"X", 1, &glyph, DT_SINGLELINE | DT_VCENTER | DT_CENTER);

    const std::int32_t percent =
        ProgressPercent(g_progressState.bytes_received.load(std::memory_order_relaxed),
                        g_progressState.bytes_expected.load(std::memory_order_relaxed));
    wchar_t text[64];
    (void)std::swprintf(text, 64, kPercentFormat, static_cast<int>(percent));
    (void)SetBkMode(paint.dc(), TRANSPARENT);
    (void)SetTextColor(paint.dc(), kWhite);
    RECT percentRect = kPercentRect;
    (void)DrawTextW(paint.dc(), text, -1, &percentRect, DT_SINGLELINE | DT_BOTTOM);
}

void CreateContent(HWND window) {
    LoadBackgroundPicture(window);

    const HWND bar = CreateWindowExW(
        0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 0, 300, kWindowWidth, 10, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarId)), g_instance, nullptr);
    (void)SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    (void)SendMessageW(bar, PBM_SETBKCOLOR, 0, kWhite);
    (void)SendMessageW(bar, PBM_SETBARCOLOR, 0, kBarColour);

    // A thread that cannot start must not take the window down with it: the user is told
    // and can still close the window.
    try {
        std::thread(InstallWorker, window).detach();
    } catch (const std::system_error&) {
        (void)MessageBoxW(window, kWorkerFailedText, kErrorCaption, MB_OK | MB_ICONERROR);
    }

    RegisterProduct();
}

void HandleButtonUp(HWND window, LPARAM lParam) {
    RECT client{};
    (void)GetClientRect(window, &client);
    const auto x = static_cast<std::uint32_t>(LOWORD(lParam));
    const auto y = static_cast<std::uint32_t>(HIWORD(lParam));
    if (IsCloseGlyphHit(client.right, x, y)) {
        (void)PostMessageW(window, WM_CLOSE, 0, 0);
    }
}

}  // namespace

void LoadBackgroundPicture(HWND owner) {
    g_picture.reset(static_cast<HBITMAP>(LoadImageW(
        g_instance, MAKEINTRESOURCEW(kBackgroundBitmapId), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
    if (!g_picture) {
        (void)MessageBoxW(owner, kPictureFailedText, kErrorCaption, MB_OK | MB_ICONERROR);
    }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateContent(window);
            return 0;
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_LBUTTONUP:
            HandleButtonUp(window, lParam);
            return 0;
        case WM_DESTROY:
            g_picture.reset();
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
