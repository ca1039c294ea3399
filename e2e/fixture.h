// The common start of every end-to-end test: a demo console and quorvel.exe, each its own
// process, and the steps a user takes with the panel.
#pragma once

#include "e2e/harness.h"
#include "panel/panel_ids.h"

#include <gtest/gtest.h>

#include <string>

namespace e2e {

class EndToEnd : public testing::Test {
  protected:
    DemoConsole Demo;
    Quorvel App;

    void StartBoth(const std::string& demoOptions) {
        ASSERT_TRUE(Demo.Start(demoOptions)) << "demo console did not come up";
        ASSERT_TRUE(App.Start()) << "quorvel.exe showed no panel";
    }

    // Presses Start and waits until refreshing runs (Stop enabled).
    void PressStart() {
        ASSERT_TRUE(App.Ui.Click(IDC_START));
        ASSERT_TRUE(WaitUntil([&] { return App.Ui.Enabled(IDC_STOP); }, milliseconds(5000)))
            << "Start did not start refreshing";
    }

    void PressStop() {
        ASSERT_TRUE(App.Ui.Click(IDC_STOP));
        ASSERT_TRUE(WaitUntil([&] { return App.Ui.Enabled(IDC_START); }, milliseconds(5000)))
            << "Stop did not stop refreshing";
    }

    // Waits until Quorvel has repainted the guest in this slot this many more times.
    bool RepaintedAgain(int slot, int times, milliseconds limit) {
        const Counts before = Demo.Snapshot();
        return WaitUntil(
            [&] { return QuorvelRepaints(before, Demo.Snapshot(), slot).Paint >= times; }, limit);
    }

    void ExpectSettingsEnabled(bool enabled) {
        for (int id : {IDC_TITLE_TEMPLATE, IDC_GUEST_CLASS, IDC_INTERVAL}) {
            EXPECT_EQ(App.Ui.Enabled(id), enabled) << "control " << id;
        }
    }

    void CloseAndExpectExitZero() {
        DWORD code = 12345;
        ASSERT_TRUE(App.CloseAndWait(code)) << "quorvel.exe did not end after close";
        EXPECT_EQ(code, 0u);
    }
};

} // namespace e2e
