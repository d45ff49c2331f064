// End-to-end test support: the scenario pieces plus the fixture every test starts from.
#pragma once

#include <gtest/gtest.h>

#include "Scenario.h"

namespace e2e
{
// The base of every end-to-end test: an installation, a clean server, the update host
// routed to it.
class EndToEnd : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!testserver::PrepareFreshServer())
            GTEST_SKIP() << "no update server for this run";
        m_installation.Register();
    }
    void TearDown() override
    {
        m_updater.Kill();
        ClearSettings();
    }

    std::string StatusText() const { return ui::ItemText(m_updater.Dialog(), IDC_STATUS); }

    Installation m_installation;
    Updater m_updater;
};
} // namespace e2e
