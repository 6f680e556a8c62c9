#include <gtest/gtest.h>

#include "mendwell/engine/registry_operation.h"
#include "platform/registry/registry.h"
#include "tests/engine/operations_fixture.h"

namespace engine_test {
namespace {

using mw::RegistryRecord;
using win::RegRoot;

RegistryRecord entry(const wchar_t* op, const wchar_t* path, const wchar_t* name, const wchar_t* value,
                     const wchar_t* type, const wchar_t* subtree = L"", const wchar_t* root = L"HKLM") {
    RegistryRecord r;
    r.operation = op;
    r.root = root;
    r.keyPath = path;
    r.keyName = name;
    r.value = value;
    r.dataType = type;
    r.subtree = subtree;
    return r;
}

bool run(const RegistryRecord& r) {
    auto op = mw::makeRegistryOperation(r.operation);
    return op && op->execute(r);
}

// Every key and value below HKLM\Software, as text, so that two states compare as a whole.
std::wstring dump(const std::wstring& path = L"Software") {
    win::RegKey key;
    if (key.open(RegRoot::localMachine, path) != 0) return L"";
    std::wstring out = L"[" + path + L"]\n";
    std::wstring name;
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    for (win::DWORD i = 0; key.enumValue(i, name, type, data) == 0; ++i) {
        out += name + L"=" + std::to_wstring(type) + L":";
        for (auto b : data) out += std::to_wstring(b) + L",";
        out += L"\n";
    }
    for (win::DWORD i = 0; key.enumKey(i, name) == 0; ++i) out += dump(path + L"\\" + name);
    return out;
}

std::vector<std::uint8_t> valueOf(const wchar_t* path, const wchar_t* name, win::DWORD& type) {
    win::RegKey key;
    std::vector<std::uint8_t> data;
    type = 99;
    if (key.open(RegRoot::localMachine, path) == 0) key.queryValue(name, type, data);
    return data;
}

class RegistryOperationTest : public OperationsTest {};

TEST_F(RegistryOperationTest, AddWritesEachValueFormAsTheDataTypeSays) {
    struct Row {
        const wchar_t* type;
        const wchar_t* value;
        win::DWORD expectedType;
        std::vector<std::uint8_t> expected;
    } rows[] = {
        {L"REG_DWORD", L"0x10", 4, {0, 0, 0, 0}},  // decimal reading stops at the x
        {L"REG_DWORD", L"-1", 4, {0xFF, 0xFF, 0xFF, 0xFF}},
        {L"REG_DWORD", L"  +258abc", 4, {2, 1, 0, 0}},
        {L"REG_BINARY", L"0A1B2", 3, {0x0A, 0x1B}},  // the odd last digit is ignored
        {L"reg_sz", L"ab", 0, {'a', 0, 'b', 0, 0, 0}},
        // Every numeric and list type in its binary form, not as its text.
        {L"REG_DWORD_LITTLE_ENDIAN", L"5", 4, {5, 0, 0, 0}},
        {L"REG_DWORD_BIG_ENDIAN", L"258", 5, {0, 0, 1, 2}},
        {L"REG_QWORD", L"5", 11, {5, 0, 0, 0, 0, 0, 0, 0}},
        {L"REG_QWORD_LITTLE_ENDIAN", L"-2", 11, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {L"REG_QWORD", L"4294967296", 11, {0, 0, 0, 0, 1, 0, 0, 0}},
        {L"REG_MULTI_SZ", L"a\\0bc", 7, {'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}},
        {L"REG_MULTI_SZ", L"a", 7, {'a', 0, 0, 0, 0, 0}},
        {L"REG_EXPAND_SZ", L"%x%", 2, {'%', 0, 'x', 0, '%', 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.value);
        EXPECT_TRUE(run(entry(L"add", L"Software\\Orvex\\T", L"V", row.value, row.type)));
        win::DWORD type = 0;
        EXPECT_EQ(valueOf(L"Software\\Orvex\\T", L"V", type), row.expected);
        EXPECT_EQ(type, row.expectedType);
    }
    EXPECT_TRUE(logged(L"INFO", L"Successfully set the value of  \"V\" to \"%x%\" "));
}

TEST_F(RegistryOperationTest, HiveNamesAreExact) {
    EXPECT_FALSE(run(entry(L"add", L"Software\\X", L"V", L"1", L"REG_SZ", L"", L"hklm")));
    EXPECT_TRUE(logged(L"ERROR", L"Registry fails to validate for addition."));
    EXPECT_EQ(mw::makeRegistryOperation(L"Add"), nullptr);
}

TEST_F(RegistryOperationTest, RemoveDeletesTheValueOrTheTreeTheSubtreeNames) {
    ASSERT_TRUE(run(entry(L"add", L"Software\\A\\B\\C", L"V", L"1", L"REG_SZ")));
    ASSERT_TRUE(run(entry(L"add", L"Software\\A", L"W", L"1", L"REG_SZ")));
    EXPECT_TRUE(run(entry(L"remove", L"Software\\A", L"W", L"", L"")));
    win::DWORD type = 0;
    EXPECT_TRUE(valueOf(L"Software\\A", L"W", type).empty());
    EXPECT_TRUE(run(entry(L"remove", L"Software\\A", L"W", L"", L"")));  // already gone: still fine
    EXPECT_TRUE(run(entry(L"remove", L"Software\\A\\B\\C", L"none", L"", L"", L"B\\C")));
    win::RegKey key;
    EXPECT_NE(key.open(RegRoot::localMachine, L"Software\\A\\B"), 0);
    EXPECT_EQ(key.open(RegRoot::localMachine, L"Software\\A"), 0);
    // A key that cannot be opened has nothing to remove; a denied one fails the entry.
    EXPECT_TRUE(run(entry(L"remove", L"Software\\Missing", L"V", L"", L"")));
    ASSERT_EQ(win::setRegKeyDenied(RegRoot::localMachine, L"Software\\A", true), 0);
    EXPECT_FALSE(run(entry(L"remove", L"Software\\A", L"W", L"", L"")));
    EXPECT_TRUE(logged(L"INFO", L"Access denied to the registry key: Software\\A"));
}

TEST_F(RegistryOperationTest, EveryChangeRollsBackToTheExactFormerState) {
    // The state before: a tree with values of several types and an empty key.
    win::RegKey key;
    ASSERT_EQ(key.create(RegRoot::localMachine, L"Software\\Orvex\\App\\Deep\\Empty"), 0);
    ASSERT_EQ(key.open(RegRoot::localMachine, L"Software\\Orvex\\App"), 0);
    ASSERT_EQ(key.setValue(L"Multi", 7, win::regMultiStringData({L"a", L"b"})), 0);
    const std::vector<std::uint8_t> odd = {1, 2, 3};
    ASSERT_EQ(key.setValue(L"Odd", 1, odd), 0);  // a string without its terminator
    ASSERT_EQ(key.setDword(L"Count", 7), 0);
    ASSERT_EQ(key.open(RegRoot::localMachine, L"Software\\Orvex\\App\\Deep"), 0);
    ASSERT_EQ(key.setString(L"Path", L"C:\\x"), 0);
    key.close();
    const std::wstring before = dump();

    const RegistryRecord changes[] = {
        entry(L"add", L"Software\\Orvex\\New\\Sub", L"V", L"1", L"REG_SZ"),  // keys created
        entry(L"add", L"Software\\Orvex\\App", L"Odd", L"replaced", L"REG_SZ"),
        entry(L"add", L"Software\\Orvex\\App", L"Multi", L"1", L"REG_DWORD"),
        entry(L"add", L"Software\\Orvex\\App", L"Multi", L"2", L"REG_DWORD"),  // the same value twice
        entry(L"add", L"Software\\Orvex\\App", L"Fresh", L"x", L"REG_SZ"),
        entry(L"remove", L"Software\\Orvex\\App", L"Count", L"", L""),
        entry(L"remove", L"Software\\Orvex\\App\\Deep", L"Path", L"", L"", L"App\\Deep"),
    };
    for (const RegistryRecord& r : changes) EXPECT_TRUE(run(r)) << r.keyPath << L" " << r.keyName;
    // A path the system refuses: the undo written ahead of it finds nothing to undo.
    EXPECT_FALSE(run(entry(L"add", L"\\Software\\Orvex\\Bad", L"V", L"1", L"REG_SZ")));
    EXPECT_NE(dump(), before);
    rollBack();
    EXPECT_EQ(dump(), before);
}

}  // namespace
}  // namespace engine_test
