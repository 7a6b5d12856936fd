#include "app/window_painting.h"

#include <commctrl.h>

#include <cstdint>
#include <cwchar>

#include "app/progress_sink.h"
#include "app/window_math.h"

namespace {

using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, Closer<DeleteDC>>;

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

constexpr wchar_t kPercentFormat[] = L"下载进度：%d%%";
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBarColour = RGB(117, 130, 225);
constexpr RECT kPercentRect{8, 276, 560, 300};
constexpr int kBarTop = 300;
constexpr int kBarHeight = 10;

void DrawPicture(HDC target, const RECT& client, HBITMAP picture) {
    const UniqueMemoryDc memory(CreateCompatibleDC(target));
    const HGDIOBJ previous = SelectObject(memory.get(), picture);
    BITMAP size{};
    (void)GetObjectW(picture, sizeof(size), &size);
    (void)StretchBlt(target, 0, 0, client.right - client.left, client.bottom - client.top,
                     memory.get(), 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
    (void)SelectObject(memory.get(), previous);
}

}  // namespace

HWND CreateProgressBar(HWND window, HINSTANCE instance) {
    const HWND bar = CreateWindowExW(
        0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 0, kBarTop, kWindowWidth, kBarHeight,
        window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarId)), instance, nullptr);
    (void)SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    (void)SendMessageW(bar, PBM_SETBKCOLOR, 0, kWhite);
    (void)SendMessageW(bar, PBM_SETBARCOLOR, 0, kBarColour);
    return bar;
}

void PaintMainWindow(HWND window, HBITMAP picture) {
    const PaintScope paint(window);
    RECT client{};
    (void)GetClientRect(window, &client);
    if (picture != nullptr) {
        DrawPicture(paint.dc(), client, picture);
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
