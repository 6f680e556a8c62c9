// A fresh machine with a captured patch log and a rollback manifest, for the directory and registry
// operations; undo entries are read back from the manifest and replayed in rollback mode.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mendwell/engine/manifest.h"
#include "tests/support/logfile.h"
#include "tests/support/testmachine.h"

namespace engine_test {

class OperationsTest : public ::testing::Test {
  protected:
    OperationsTest();
    ~OperationsTest() override;

    std::vector<std::wstring> messages(const std::wstring& type);
    bool logged(const std::wstring& type, const std::wstring& message);

    // The undo entries recorded so far, in the order the rollback would run them.
    std::vector<mw::DirectoryRecord> directoryUndo();
    std::vector<mw::RegistryRecord> registryUndo();
    // Runs every recorded undo entry in rollback mode, as the rollback run does.
    void rollBack();

    std::unique_ptr<testing_support::TestMachine> machine_;
};

}  // namespace engine_test
