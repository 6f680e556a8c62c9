// The probe program (tests/fixtures) and helpers to run it as a child of the layer.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/process/process.h"
#include "tests/support/testmachine.h"

namespace probe {

inline std::filesystem::path program() {
    return testing_support::binDir() / "mw_probe";
}

// Copies the probe into the machine under a Windows path (folders created).
inline void install(const testing_support::TestMachine& machine, std::wstring_view windowsPath) {
    const auto target = machine.host(windowsPath);
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(program(), target, std::filesystem::copy_options::overwrite_existing);
}

// Waits (reading the child's output) until `text` appears or the child ends; false on a timeout.
inline bool waitForOutput(win::ChildProcess& child, const std::string& text, int timeoutMs = 20000) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (child.output().find(text) != std::string::npos) return true;
        if (child.wait(20)) return child.output().find(text) != std::string::npos;
    }
    return false;
}

}  // namespace probe
