// The wizard's applications-in-use page, with the product checks replaced (the process scan is not in
// this build); nothing is patched.
#include "mendwell/app/wizard.h"

#include <gtest/gtest.h>

#include "mendwell/engine/patch_controller.h"
#include "tests/support/testmachine.h"

namespace {

TEST(Wizard, ApplicationsInUseRetryChecksAgain) {
    testing_support::TestMachine machine;
    mw::PatchController controller;
    mw::PatcherConfigRecord config;
    config.productName = L"Lumen TX4";
    win::ui::ScriptedBackend backend;
    int checks = 0;
    mw::WizardChecks product;
    product.validate = [](const mw::PatcherConfigRecord&, const std::wstring&) { return true; };
    product.runningApplications = [&](const mw::PatcherConfigRecord&) {
        ++checks;
        return std::vector<std::wstring>{L"Lumen.exe", L"LumenHelper.exe"};
    };
    {
        mw::Wizard wizard(controller, L"C:\\Program Files\\Orvex\\Lumen TX4", config, backend, product);
        wizard.setScript(win::ui::parseScript("click 1\nawait text 1 Retry\nclick 1\nanswer yes\nclose\n"));
        wizard.run();
        const auto& r = wizard.dialog().record();
        auto has = [&](const std::string& line) { return std::find(r.begin(), r.end(), line) != r.end(); };
        EXPECT_TRUE(has("text 212 <Lumen.exe\\r\\nLumenHelper.exe\\r\\n>"));
        EXPECT_TRUE(has("show 212 1"));
        EXPECT_TRUE(has("text 204 <Applications In Use...>"));
        EXPECT_TRUE(
            has("text -1 <Please shutdown the following applications and click Retry or click Cancel to "
                "quit.>"));
        EXPECT_FALSE(has("text 204 <Installing the patch...>"));
        EXPECT_EQ(wizard.outcome(), mw::outcomeCancelled);
    }
    EXPECT_EQ(checks, 2);
}

}  // namespace
