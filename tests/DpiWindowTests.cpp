#include "WindowTestSupport.h"

#include "app/Controls.h"
#include "app/Settings.h"
#include "platform/Dpi.h"

namespace bw::test {
namespace {

// The window on monitors of other scales than the test's screen (96 DPI under Xvfb). The DPI that Windows reports
// for a window or a monitor comes through the seams; a move to another monitor is the message Windows sends then.
class DpiWindowTest : public WindowTest {
protected:
    int BoxSize() const {
        int width = 0;
        int height = 0;
        ::ImageList_GetIconSize(ListView_GetImageList(m_form->List(), LVSIL_STATE), &width, &height);
        EXPECT_EQ(width, height);
        return width;
    }
    // What Windows sends a window that has moved to a monitor of `dpi`, with the bounds it suggests there.
    void MoveToMonitorOf(UINT dpi) {
        RECT bounds{};
        ::GetWindowRect(m_form->Handle(), &bounds);
        ::SendMessageW(m_form->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&bounds));
        Pump();
    }
    std::vector<bool> Checks() const {
        std::vector<bool> checks;
        for (int row = 0; row < LvGetItemCount(m_form->List()); ++row) {
            checks.push_back(LvGetCheck(m_form->List(), row));
        }
        return checks;
    }
    // True when the state image draws anything at all on a white ground at its full size.
    bool BoxDrawn(int image) const {
        const HIMAGELIST boxes = ListView_GetImageList(m_form->List(), LVSIL_STATE);
        const int size = BoxSize();
        HDC dc = ::CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        UniqueBitmap canvas(::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        const HGDIOBJ old = ::SelectObject(dc, canvas.Get());
        RECT all{0, 0, size, size};
        ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::ImageList_Draw(boxes, image, dc, 0, 0, ILD_NORMAL);
        ::GdiFlush();
        const auto* pixels = static_cast<const DWORD*>(bits);
        // Something drawn near the far corner: the box's frame reaches it at this size, not at the size before.
        bool farCorner = false;
        for (int y = size * 3 / 4; y < size; ++y) {
            for (int x = size * 3 / 4; x < size; ++x) {
                farCorner = farCorner || (pixels[y * size + x] & 0xFFFFFF) != 0xFFFFFF;
            }
        }
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
        return farCorner;
    }
};

// After a move to a monitor of another scale the check boxes are drawn at that scale (the list view itself keeps
// them at the size it made them), every box still shows its entry's state, and nothing of it is a toggle. A window
// that opens on a monitor at 150 % (Windows reports 144 DPI for it) has boxes of that scale from the start.
TEST_F(DpiWindowTest, CheckBoxesAreDrawnForTheWindowsDpi) {
    m_registry.SetRunValue(Location::User, L"On", L"c:\\windows\\notepad.exe");
    WriteShortcut(StorePath(kStartUpOff, L"Off"), L"c:\\windows\\regedit.exe", L"");
    Open();
    ASSERT_EQ(BoxSize(), 16);
    const std::vector<bool> checks = Checks();
    ASSERT_EQ(checks.size(), 2u);

    MoveToMonitorOf(192);
    EXPECT_EQ(BoxSize(), 32);
    EXPECT_TRUE(BoxDrawn(0));
    EXPECT_TRUE(BoxDrawn(1));
    EXPECT_EQ(Checks(), checks);
    EXPECT_TRUE(m_registry.RunValue(Location::User, L"On")) << "a redraw of the boxes was taken for a toggle";
    EXPECT_TRUE(FileExists(StorePath(kStartUpOff, L"Off")));
    EXPECT_TRUE(m_form->ListReady());

    MoveToMonitorOf(96);
    EXPECT_EQ(BoxSize(), 16);
    EXPECT_EQ(Checks(), checks);
    Close();

    auto monitorAt150 = seam::WindowDpi.Replace([](HWND) { return 144u; });
    Open();
    EXPECT_EQ(BoxSize(), 24);
    EXPECT_EQ(Checks(), checks);
    Close();
}

// Bounds saved on a monitor of one scale are placed on a monitor of another at the size they had there: their corner
// stays, their size follows the scale. A settings file written before the DPI was kept places them as given.
TEST_F(DpiWindowTest, BoundsSavedAtAnotherScaleAreScaledWhenPlaced) {
    m_registry.SetRunValue(Location::User, L"Tool", L"c:\\windows\\notepad.exe");
    UINT monitorDpi = 96;
    auto monitor = seam::MonitorDpi.Replace([&](HMONITOR) { return monitorDpi; });
    const std::wstring settings = SettingsPath();

    // Closed on a monitor at 200 %, opened on one at 100 %.
    WriteFileBytes(settings, "window=40,50,840,650\r\ndpi=192\r\n");
    Open();
    RECT bounds = NormalBounds();
    EXPECT_EQ(bounds.left, 40);
    EXPECT_EQ(bounds.top, 50);
    EXPECT_EQ(bounds.right - bounds.left, 400);
    EXPECT_EQ(bounds.bottom - bounds.top, 300);
    Close();
    EXPECT_NE(ReadFileBytes(settings).find("window=40,50,440,350\r\ndpi=96\r\n"), std::string::npos);

    // Closed at 100 %, opened where the monitor is at 150 %.
    monitorDpi = 144;
    Open();
    bounds = NormalBounds();
    EXPECT_EQ(bounds.left, 40);
    EXPECT_EQ(bounds.right - bounds.left, 600);
    EXPECT_EQ(bounds.bottom - bounds.top, 450);
    Close();

    // A file of the release before: no DPI, placed as it was.
    WriteFileBytes(settings, "window=40,50,840,650\r\n");
    monitorDpi = 192;
    Open();
    bounds = NormalBounds();
    EXPECT_EQ(bounds.right - bounds.left, 800);
    EXPECT_EQ(bounds.bottom - bounds.top, 600);
}

TEST(WindowSettingsTest, TheDpiOfTheBoundsIsKeptAndDamageLeavesItOut) {
    WindowSettings settings;
    settings.bounds = RECT{10, 20, 410, 320};
    settings.dpi = 144;
    EXPECT_EQ(ParseSettings(FormatSettings(settings)).dpi, 144u);
    EXPECT_FALSE(ParseSettings("window=10,20,410,320\r\n").dpi);
    for (const char* damaged : {"dpi=0", "dpi=-96", "dpi=96,96", "dpi=x", "dpi=100000"}) {
        EXPECT_FALSE(ParseSettings(std::string("window=10,20,410,320\r\n") + damaged).dpi) << damaged;
    }
    const RECT scaled = ScaleBounds(RECT{-100, 20, 500, 420}, 96, 120);
    EXPECT_EQ(scaled.left, -100);
    EXPECT_EQ(scaled.top, 20);
    EXPECT_EQ(scaled.right, 650);
    EXPECT_EQ(scaled.bottom, 520);
}

} // namespace
} // namespace bw::test
