// The real program started the way a user starts it.
#include <gtest/gtest.h>

#include "UiDriver.h"

namespace {

const DWORD kWait = 20000;

std::wstring Program(const wchar_t* name)
{
    return ui::ProgramFolder() + name;
}

// The session window: a visible popup dialog of the process.
HWND WaitForSessionWindow(const ui::Process& p, DWORD timeout = kWait)
{
    return ui::WaitForWindow(
        [&](const ui::WindowInfo& w) {
            return w.processId == p.Id() && w.visible && w.className == L"#32770" && w.title.empty() &&
                   (::GetWindowLongW(w.hwnd, GWL_STYLE) & WS_POPUP) != 0;
        },
        timeout);
}

} // namespace

TEST(Startup, RunsTheSessionWindowUntilItIsClosed)
{
    ui::Process p = ui::Process::Start(Program(L"Zorvane.exe"), L"http://127.0.0.1:9/serverlist.txt auto");
    ASSERT_TRUE(p.Started());
    HWND wnd = WaitForSessionWindow(p);
    ASSERT_NE(wnd, nullptr);
    EXPECT_TRUE(p.Running());
    ui::PostKey(wnd, VK_ESCAPE);
    EXPECT_TRUE(p.WaitExit(kWait));
}

TEST(Startup, EnterEndsTheModalRunToo)
{
    ui::Process p = ui::Process::Start(Program(L"Zorvane.exe"), L"http://127.0.0.1:9/serverlist.txt AUTO");
    HWND wnd = WaitForSessionWindow(p);
    ASSERT_NE(wnd, nullptr);
    ui::PostKey(wnd, VK_RETURN);
    EXPECT_TRUE(p.WaitExit(kWait));
}

TEST(Startup, ASocketFailureShowsTheResourceTextAndNoWindow)
{
    ui::Process p = ui::Process::Start(Program(L"zorvane_sockfail.exe"), L"http://127.0.0.1:9/serverlist.txt auto");
    ASSERT_TRUE(p.Started());
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"Zorvane", false);
    ASSERT_NE(box, nullptr);
    ui::MessageBoxInfo info = ui::ReadMessageBox(box);
    EXPECT_EQ(info.caption, L"Zorvane");
    EXPECT_EQ(info.text, L"Windows 套接字初始化失败。");
    EXPECT_TRUE(info.hasIcon);
    EXPECT_EQ(info.buttons.size(), 1u);
    // Only the message box: no session window.
    EXPECT_EQ(WaitForSessionWindow(p, 300), nullptr);
    ui::PressButton(box, IDOK);
    EXPECT_TRUE(p.WaitExit(kWait));
}

TEST(Startup, AnEmptyAddressShowsTheUsageAndEnds)
{
    ui::Process p = ui::Process::Start(Program(L"zorvane_noaddr.exe"));
    ASSERT_TRUE(p.Started());
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"系统提示", false);
    ASSERT_NE(box, nullptr);
    ui::MessageBoxInfo info = ui::ReadMessageBox(box);
    EXPECT_EQ(info.text, L"请输传递服务器列表参数 格式： ...exe http://..../..serverlist.txt auto");
    EXPECT_TRUE(info.hasIcon);
    ui::PressButton(box, IDOK);
    EXPECT_TRUE(p.WaitExit(kWait));
}

TEST(Startup, ATailWithoutABlankKeepsTheBuiltInAddress)
{
    // The built-in address of this build is empty, so keeping it shows the usage.
    ui::Process p = ui::Process::Start(Program(L"zorvane_noaddr.exe"), L"http://127.0.0.1:9/serverlist.txt");
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", kWait, L"系统提示", false);
    ASSERT_NE(box, nullptr);
    ui::PressButton(box, IDOK);
    EXPECT_TRUE(p.WaitExit(kWait));
}

TEST(Startup, AnAddressFromTheCommandLineReplacesAnEmptyBuiltInOne)
{
    ui::Process p = ui::Process::Start(Program(L"zorvane_noaddr.exe"), L"http://127.0.0.1:9/serverlist.txt auto");
    HWND wnd = WaitForSessionWindow(p);
    ASSERT_NE(wnd, nullptr);
    // The session runs: a box may come from its update list (whether a server
    // answers on the built-in port depends on what else runs), never the usage.
    HWND box = ui::WaitForProcessWindow(p.Id(), L"#32770", 1000, L"系统提示", false);
    if (box) {
        EXPECT_EQ(ui::ReadMessageBox(box).text.find(L"请输传递服务器列表参数"), std::wstring::npos);
        ui::PressButton(box, IDOK);
    } else {
        ui::PostKey(wnd, VK_ESCAPE);
    }
    EXPECT_TRUE(p.WaitExit(kWait));
}
