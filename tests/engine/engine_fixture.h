// A fresh machine with a captured patch log, the work folder's staging and backup folders, and the
// process-wide patch state reset, for the operations and the patch thread.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/logfile.h"
#include "tests/support/testmachine.h"

namespace engine_test {

class EngineTest : public ::testing::Test {
  protected:
    EngineTest();
    ~EngineTest() override;
    // Starts over on a new machine (for table rows that each need a clean one).
    void freshMachine();
    // Empties C:\P, the staging area and the backup folder, and resets the patch state: a clean start
    // for one table row, much cheaper than a new machine.
    void clearFiles();

    void stage(const std::wstring& objectName, const std::string& bytes);
    void put(const std::wstring& path, const std::string& bytes, bool readOnly = false);
    std::string read(const std::wstring& path) const;  // "<missing>" when absent
    bool readOnly(const std::wstring& path) const;
    std::wstring backup(const std::wstring& objectName) const;
    void setRollbackMode(int mode);

    std::vector<testing_support::LogLine> log();
    bool logged(const std::wstring& type, const std::wstring& message);

    std::unique_ptr<testing_support::TestMachine> machine_;
};

// MD5 text of some bytes, from the standard's test vectors' own algorithm (libcrypto), for expectations.
std::wstring md5Of(const std::string& bytes);

}  // namespace engine_test
