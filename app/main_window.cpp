#include "app/main_window.h"

#include <cstdint>
#include <system_error>
#include <thread>

#include "app/window_math.h"
#include "install/install_worker.h"
#include "record/register_product.h"

HINSTANCE g_instance = nullptr;

namespace {

constexpr wchar_t kPictureFailedText[] = L"背景图加载失败！";
constexpr wchar_t kErrorCaption[] = L"错误";
constexpr wchar_t kWorkerFailedText[] = L"安装任务无法启动，请关闭窗口后重新运行安装程序。";

UniqueBitmap g_picture;

void CreateContent(HWND window) {
    LoadBackgroundPicture(window);

    (void)CreateProgressBar(window, g_instance);

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
    // The same resource loaded a second time would only cost start-up time.
    if (g_picture) {
        return;
    }
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
            PaintMainWindow(window, g_picture.get());
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
