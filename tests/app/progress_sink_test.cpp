// The sink moves the bar, stores the counts for painting and asks for a repaint; it skips the
// bar message and the repaint when a report keeps the percentage. These tests check that the
// user sees exactly what a sink that sends on every report would show.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/progress_sink.h"
#include "app/window_math.h"
#include "tests/app/window_thread.h"

namespace {

constexpr wchar_t kClassName[] = L"HalvexSinkTestWindow";
// Sent by the reporting thread after a report: the window thread paints whatever is
// invalid before it answers, so every report's repaint is seen before the next report.
constexpr UINT kPaintNow = WM_APP + 1;

// What one paint put on screen: the bar's position and the percentage of the text, which
// painting draws from ProgressState.
struct Shown {
    LRESULT bar;
    std::int32_t text;
};

std::vector<Shown> g_paints;
std::uint64_t g_positionMessages = 0;
WNDPROC g_barProc = nullptr;

LRESULT CALLBACK CountingBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) {
        ++g_positionMessages;
    }
    return CallWindowProcW(g_barProc, bar, message, wParam, lParam);
}

LRESULT CALLBACK TestWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            (void)BeginPaint(window, &paint);
            const LRESULT bar = SendMessageW(GetDlgItem(window, kProgressBarId), PBM_GETPOS, 0, 0);
            g_paints.push_back({bar, ProgressPercent(g_progressState.bytes_received.load(),
                                                     g_progressState.bytes_expected.load())});
            (void)EndPaint(window, &paint);
            return 0;
        }
        case kPaintNow:
            (void)UpdateWindow(window);
            return 0;
        default:
            return WindowThread::DefaultProcedure(window, message, wParam, lParam);
    }
}

void SubclassBar(HWND bar) {
    g_barProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingBarProc)));
}

LRESULT BarPosition(const WindowThread& windowThread) {
    return SendMessageW(windowThread.bar(), PBM_GETPOS, 0, 0);
}

void PaintNow(const WindowThread& windowThread) {
    (void)SendMessageW(windowThread.window(), kPaintNow, 0, 0);
}

struct Report {
    std::uint64_t received;
    std::uint64_t expected;
    std::int32_t percent;  // what the bar and the text must show after it
};

// A download in 8 KiB pieces, as the downloader reports it: many reports per percent.
std::vector<Report> PiecewiseDownload(std::uint64_t size) {
    std::vector<Report> reports;
    for (std::uint64_t received = 0; received < size;) {
        received = received + 8192 < size ? received + 8192 : size;
        reports.push_back({received, size, static_cast<std::int32_t>(received * 100 / size)});
    }
    return reports;
}

class ProgressSinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(windowThread_.WaitUntilShown());
        PaintNow(windowThread_);
        g_paints.clear();
        g_positionMessages = 0;
    }

    WindowThread windowThread_{kClassName, TestWndProc, SubclassBar};
};

TEST_F(ProgressSinkTest, EachReportMovesTheBarStoresTheCountsAndRepaints) {
    const ProgressCallback sink = MakeProgressSink(windowThread_.window());
    const Report reports[] = {
        {8192, 0, 0}, {1, 3, 33},          {5000, 10000, 50}, {9999, 10000, 99},
        {3, 3, 100},  {15000, 10000, 150}, {0, 10000, 0},
    };
    for (const Report& r : reports) {
        const std::size_t paintsBefore = g_paints.size();
        sink(r.received, r.expected);
        SCOPED_TRACE(testing::Message() << r.received << " of " << r.expected);
        // The position message is synchronous, so the bar has moved once the report returns.
        EXPECT_EQ(BarPosition(windowThread_), r.percent);
        EXPECT_EQ(g_progressState.bytes_received.load(), r.received);
        EXPECT_EQ(g_progressState.bytes_expected.load(), r.expected);
        PaintNow(windowThread_);
        EXPECT_GT(g_paints.size(), paintsBefore) << "no repaint";
    }
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

TEST_F(ProgressSinkTest, BarAndTextShowTheLatestReportAtEveryPaint) {
    const ProgressCallback sink = MakeProgressSink(windowThread_.window());
    std::vector<Report> reports = PiecewiseDownload(1000003);
    // Then a download without a length, one that overshoots, and one that starts again.
    reports.insert(reports.end(), {{8192, 0, 0},
                                   {65536, 0, 0},
                                   {9000, 10000, 90},
                                   {15000, 10000, 150},
                                   {15001, 10000, 150},
                                   {1, 3, 33},
                                   {0, 10000, 0}});
    for (const Report& r : reports) {
        const std::size_t paintsBefore = g_paints.size();
        sink(r.received, r.expected);
        PaintNow(windowThread_);
        SCOPED_TRACE(testing::Message() << r.received << " of " << r.expected);
        EXPECT_EQ(BarPosition(windowThread_), r.percent);
        ASSERT_FALSE(g_paints.empty());
        EXPECT_EQ(g_paints.back().text, r.percent);
        for (std::size_t i = paintsBefore; i < g_paints.size(); ++i) {
            EXPECT_EQ(g_paints[i].bar, g_paints[i].text);
        }
    }
    EXPECT_EQ(g_progressState.bytes_received.load(), 0u);
    EXPECT_EQ(g_progressState.bytes_expected.load(), 10000u);
}

TEST_F(ProgressSinkTest, OnlyAChangedPercentageCostsABarMessageAndARepaint) {
    const ProgressCallback sink = MakeProgressSink(windowThread_.window());
    // 128 pieces of 8 KiB: every figure from 0 to 100 once, so 101 of the 128 reports change it.
    for (const Report& r : PiecewiseDownload(1 << 20)) {
        sink(r.received, r.expected);
        PaintNow(windowThread_);
    }
    EXPECT_EQ(g_positionMessages, 101u);
    EXPECT_EQ(g_paints.size(), 101u);
    EXPECT_EQ(g_progressState.bytes_received.load(), 1u << 20);
}

TEST_F(ProgressSinkTest, AFreshSinkAlwaysSetsTheBar) {
    const ProgressCallback first = MakeProgressSink(windowThread_.window());
    first(40, 100);
    const ProgressCallback second = MakeProgressSink(windowThread_.window());
    second(0, 0);
    EXPECT_EQ(BarPosition(windowThread_), 0);
    EXPECT_EQ(g_positionMessages, 2u);
}

TEST_F(ProgressSinkTest, CopiesOfTheSinkReportToTheSameWindow) {
    const ProgressCallback original = MakeProgressSink(windowThread_.window());
    const ProgressCallback copy = original;
    copy(25, 100);
    EXPECT_EQ(BarPosition(windowThread_), 25);
    original(75, 100);
    EXPECT_EQ(BarPosition(windowThread_), 75);
}

TEST_F(ProgressSinkTest, CopiesShareWhatTheBarWasLastGiven) {
    const ProgressCallback original = MakeProgressSink(windowThread_.window());
    const ProgressCallback copy = original;
    original(25, 100);
    copy(75, 100);
    original(25, 100);
    EXPECT_EQ(BarPosition(windowThread_), 25);
    copy(25, 100);
    EXPECT_EQ(g_positionMessages, 3u);
}

}  // namespace
