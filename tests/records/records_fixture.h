// A fresh machine with the product database library in the work folder, a captured patch log, and
// products registered through the library's own registration calls.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mendwell/base/config_record.h"
#include "outside/tally/tally_api.h"
#include "platform/system/library.h"
#include "tests/support/logfile.h"
#include "tests/support/testmachine.h"

namespace records_test {

using Logged = testing_support::LogLine;

class RecordsTest : public ::testing::Test {
  protected:
    explicit RecordsTest(const win::MachineProfile& profile = {});
    ~RecordsTest() override;

    // Places the built library where TallySession loads it from.
    void installTally();
    void addProduct(const std::string& code, const std::string& installDir, const std::string& version,
                    const std::string& collection = "", std::int64_t tsInstalled = 0,
                    std::int64_t tsModified = 0, const std::string& language = "");
    void setTallyValue(const std::string& code, const std::string& name, const std::string& value);

    std::vector<Logged> log();
    bool logged(const std::wstring& type, const std::wstring& message);
    // Messages of one type, in order.
    std::vector<std::wstring> messages(const std::wstring& type);

    std::unique_ptr<testing_support::TestMachine> machine_;
    win::Library tally_;
};

// A configuration for a patch from 9.0 to 9.0.3 of the given product codes.
mw::PatcherConfigRecord patchConfig(const std::vector<std::wstring>& codes);

}  // namespace records_test
