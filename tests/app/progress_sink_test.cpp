#include "app/progress_sink.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "common/unique_handle.h"
#include "tests/app/window_thread.h"

namespace {

constexpr wchar_t kClassName[] = L"HalvexSinkTestWindow";

// Signalled on every paint of the test window, so a test can see that a report asked for one.
HANDLE g_painted = nullptr;

LRESULT CALLBACK TestWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint{};
        (void)BeginPaint(window, &paint);
        (void)EndPaint(window, &paint);
        (void)SetEvent(g_painted);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class ProgressSinkTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(windowThread_.WaitUntilShown()); }

    static UniqueHandle MakePaintEvent() {
        UniqueHandle event = AdoptHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        g_painted = event.get();
        return event;
    }

    // Made before the window so that no paint goes unseen.
    UniqueHandle painted_ = MakePaintEvent();
    WindowThread windowThread_{kClassName, TestWndProc};
};

struct Report {
    std::uint64_t received;
    std::uint64_t expected;
    LRESULT barPosition;
};

TEST_F(ProgressSinkTest, EachReportMovesTheBarStoresTheCountsAndRepaints) {
    const ProgressCallback sink = MakeProgressSink(windowThread_.window());
    const Report reports[] = {
        {8192, 0, 0}, {1, 3, 33},          {5000, 10000, 50}, {9999, 10000, 99},
        {3, 3, 100},  {15000, 10000, 150}, {0, 10000, 0},
    };
    for (const Report& r : reports) {
        (void)ResetEvent(painted_.get());
        sink(r.received, r.expected);
        // The position message is synchronous, so the bar has moved once the report returns.
        EXPECT_EQ(SendMessageW(windowThread_.bar(), PBM_GETPOS, 0, 0), r.barPosition)
            << r.received << " of " << r.expected;
        EXPECT_EQ(g_progressState.bytes_received.load(), r.received);
        EXPECT_EQ(g_progressState.bytes_expected.load(), r.expected);
        EXPECT_EQ(WaitForSingleObject(painted_.get(), WindowThread::kBoundMs), WAIT_OBJECT_0)
            << "no repaint after " << r.received << " of " << r.expected;
    }
}

TEST_F(ProgressSinkTest, CopiesOfTheSinkReportToTheSameWindow) {
    const ProgressCallback original = MakeProgressSink(windowThread_.window());
    const ProgressCallback copy = original;
    copy(25, 100);
    EXPECT_EQ(SendMessageW(windowThread_.bar(), PBM_GETPOS, 0, 0), 25);
    original(75, 100);
    EXPECT_EQ(SendMessageW(windowThread_.bar(), PBM_GETPOS, 0, 0), 75);
}

TEST_F(ProgressSinkTest, ReportAfterTheWindowIsDestroyedStillRecordsTheCounts) {
    const ProgressCallback sink = MakeProgressSink(windowThread_.window());
    sink(10, 20);
    ASSERT_TRUE(windowThread_.CloseAndWait());
    ASSERT_FALSE(IsWindow(windowThread_.window()));

    sink(4096, 8192);
    EXPECT_EQ(g_progressState.bytes_received.load(), 4096u);
    EXPECT_EQ(g_progressState.bytes_expected.load(), 8192u);
}

}  // namespace
