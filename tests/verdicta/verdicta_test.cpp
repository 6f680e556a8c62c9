// The result reporting library as its callers meet it: loaded from a machine path, called through its
// C exports, its result file read back with a real XML parser.
#include <expat.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/fs/file.h"
#include "platform/system/file_security.h"
#include "platform/system/library.h"
#include "platform/system/system.h"
#include "platform/text/text.h"
#include "tests/support/testmachine.h"
#include "verdicta/verdicta.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TestMachine;

const wchar_t* const kReport = L"C:\\QUD\\result.xml";
const wchar_t* const kLibrary = L"C:\\Temp\\Verdicta.dll";

// What the update manager reads out of the result file.
struct Parsed {
    bool wellFormed = false;
    std::string root, version, returnCode, userMessage;
};

Parsed parse(const std::string& bytes) {
    struct State {
        Parsed p;
        std::string element;
    } st;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &st);
    XML_SetElementHandler(
        parser,
        [](void* d, const XML_Char* name, const XML_Char** atts) {
            auto& s = *static_cast<State*>(d);
            s.element = name;
            if (s.p.root.empty()) {
                s.p.root = name;
                for (int i = 0; atts[i]; i += 2)
                    if (std::strcmp(atts[i], "version") == 0) s.p.version = atts[i + 1];
            }
        },
        [](void* d, const XML_Char*) { static_cast<State*>(d)->element.clear(); });
    XML_SetCharacterDataHandler(parser, [](void* d, const XML_Char* text, int len) {
        auto& s = *static_cast<State*>(d);
        if (s.element == "ReturnCode") s.p.returnCode.append(text, static_cast<std::size_t>(len));
        if (s.element == "UserMessage") s.p.userMessage.append(text, static_cast<std::size_t>(len));
    });
    st.p.wellFormed = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return st.p;
}

// A fresh machine with the built library copied into it and loaded from there, as the patcher does.
class VerdictaTest : public ::testing::Test {
  protected:
    explicit VerdictaTest(const win::MachineProfile& profile = {}) : machine_(profile) {
        fs::create_directories(machine_.host(L"C:\\QUD"));
        fs::create_directories(machine_.host(L"C:\\Temp"));
        fs::copy_file(testing_support::binDir() / "Verdicta.so", machine_.host(kLibrary));
        win::setEnv(L"QUD_IRPT_PATH", kReport);
        win::unsetEnv(L"QUD_APP_INSTALL_PATH");
        EXPECT_TRUE(library_.load(kLibrary));
        getPath_ = library_.function<QUDGetClientAppPathFn>("QUDGetClientAppPath");
        set_ = library_.function<QUDSetVerdictaFn>("QUDSetVerdicta");
        encodeAndSet_ = library_.function<QUDSetVerdictaFn>("QUDEncodeAndSetVerdicta");
    }
    ~VerdictaTest() override {
        library_.free();
        win::unsetEnv(L"QUD_IRPT_PATH");
        win::unsetEnv(L"QUD_APP_INSTALL_PATH");
    }
    std::string report() const {
        return machine_.exists(kReport) ? machine_.readFile(kReport) : std::string("(none)");
    }

    TestMachine machine_;
    win::Library library_;
    QUDGetClientAppPathFn getPath_ = nullptr;
    QUDSetVerdictaFn set_ = nullptr;
    QUDSetVerdictaFn encodeAndSet_ = nullptr;
};

TEST_F(VerdictaTest, ClientAppPathFollowsTheSizeProtocol) {
    ASSERT_TRUE(getPath_);
    const std::string path = "C:\\Lumen\\X";  // 10 bytes
    struct Row {
        const char* variable;  // nullptr: not set
        std::uint32_t capacity;
        bool withBuffer;
        int result;
        std::uint32_t size;
    } rows[] = {
        {nullptr, 260, false, 0, 0},           // not set: size 0 whatever was asked
        {"", 260, true, 0, 0},                 // empty counts as not set
        {path.c_str(), 260, false, 0, 11},     // no buffer: the length plus one
        {path.c_str(), 0, true, 0, 11},        // no room at all
        {path.c_str(), 10, true, 0, 11},       // no room for the zero
        {path.c_str(), 11, true, 1, 10},       // exactly enough
        {"C:\\Caf\xC3\xA9", 260, true, 1, 8},  // a UTF-8 length, not characters
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.variable ? row.variable : "(unset)") + " capacity " +
                     std::to_string(row.capacity));
        if (row.variable)
            win::setEnv(L"QUD_APP_INSTALL_PATH", win::fromUtf8(row.variable));
        else
            win::unsetEnv(L"QUD_APP_INSTALL_PATH");
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        std::uint32_t size = row.capacity;
        EXPECT_EQ(getPath_(&size, row.withBuffer ? buffer : nullptr), row.result);
        EXPECT_EQ(size, row.size);
        if (row.result == 1) {
            EXPECT_STREQ(buffer, row.variable);
        } else {
            EXPECT_EQ(buffer[0], '#');  // nothing copied
        }
    }
    EXPECT_EQ(getPath_(nullptr, nullptr), 0);
}

// The five lines as written, and what a reader gets back from messages that would break the markup.
TEST_F(VerdictaTest, ResultFileReadsBackWhateverTheMessage) {
    ASSERT_TRUE(set_);
    ASSERT_EQ(set_(0, nullptr), 1);
    EXPECT_EQ(report(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<Verdicta version=\"5\">\r\n"
              "<ReturnCode>0</ReturnCode>\r\n<UserMessage></UserMessage>\r\n</Verdicta>\r\n");

    struct Row {
        std::int32_t code;
        std::string message, codeText, readBack;
    } rows[] = {
        {4, "a < b", "4", "a < b"},
        // A running application's description must not forge a success.
        {2, "x</UserMessage><ReturnCode>0</ReturnCode>", "2", "x</UserMessage><ReturnCode>0</ReturnCode>"},
        {2, "Close these:\r\nLumen & Co >\r\nnotepad.exe", "2",
         "Close these:\r\nLumen & Co >\r\nnotepad.exe"},
        {-1, "Caf\xC3\xA9", "4294967295", "Caf\xC3\xA9"},
        // Not UTF-8, and a control XML cannot carry: replaced, the file stays readable.
        {4, "bad \xE9 byte \x01", "4", "bad \xEF\xBF\xBD byte \xEF\xBF\xBD"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        ASSERT_EQ(set_(row.code, row.message.c_str()), 1);
        const Parsed p = parse(report());
        ASSERT_TRUE(p.wellFormed) << report();
        EXPECT_EQ(p.root, "Verdicta");
        EXPECT_EQ(p.version, "5");
        EXPECT_EQ(p.returnCode, row.codeText);
        EXPECT_EQ(p.userMessage, row.readBack) << report();
    }
    // Each write replaced the whole file: only the last result is in it.
    EXPECT_EQ(report().find("Caf"), std::string::npos) << report();
    // Open to every account, as the platform records it.
    win::FileDacl dacl = win::FileDacl::inherited;
    ASSERT_TRUE(win::getFileDacl(kReport, dacl));
    EXPECT_EQ(dacl, win::FileDacl::null);
}

TEST_F(VerdictaTest, WritersWithoutAUsableReportPath) {
    ASSERT_TRUE(set_);
    // Not set: 0 and nothing written.
    win::unsetEnv(L"QUD_IRPT_PATH");
    EXPECT_EQ(set_(4, "x"), 0);
    EXPECT_EQ(encodeAndSet_(4, "x"), 0);
    EXPECT_EQ(report(), "(none)");

    // Set but unwritable: 1, and the report is lost.
    win::setEnv(L"QUD_IRPT_PATH", L"C:\\Missing\\result.xml");
    EXPECT_EQ(set_(4, "x"), 1);
    EXPECT_FALSE(machine_.exists(L"C:\\Missing\\result.xml"));

    // Another writer holds the file: the first result stays whole.
    win::setEnv(L"QUD_IRPT_PATH", kReport);
    ASSERT_EQ(set_(4, "first"), 1);
    {
        win::File holder;
        ASSERT_TRUE(
            holder.open(kReport, win::access::write, win::share::read, win::Disposition::openExisting));
        EXPECT_EQ(set_(0, "second"), 1);
    }
    EXPECT_EQ(parse(report()).userMessage, "first");
}

// Messages in the machine's ANSI code page arrive as UTF-8.
struct CodePageCase {
    unsigned codePage;
    std::string ansi, utf8;
};

class VerdictaCodePageTest : public VerdictaTest, public ::testing::WithParamInterface<CodePageCase> {
  protected:
    VerdictaCodePageTest()
        : VerdictaTest([] {
              win::MachineProfile p;
              p.ansiCodePage = GetParam().codePage;
              return p;
          }()) {}
};

TEST_P(VerdictaCodePageTest, EncodeAndSetWritesUtf8) {
    ASSERT_TRUE(encodeAndSet_);
    ASSERT_EQ(encodeAndSet_(4, GetParam().ansi.c_str()), 1);
    EXPECT_NE(report().find("<UserMessage>" + GetParam().utf8 + "</UserMessage>"), std::string::npos)
        << report();
    EXPECT_EQ(parse(report()).userMessage, GetParam().utf8);
    ASSERT_EQ(encodeAndSet_(0, nullptr), 1);
    EXPECT_EQ(parse(report()).userMessage, "");
}

INSTANTIATE_TEST_SUITE_P(Pages, VerdictaCodePageTest,
                         ::testing::Values(CodePageCase{1252, "Caf\xE9", "Caf\xC3\xA9"},
                                           CodePageCase{1251, "\xE4\xE0", "\xD0\xB4\xD0\xB0"}));

}  // namespace
