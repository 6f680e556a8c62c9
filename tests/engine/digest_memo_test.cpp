// The pre-flight's checksums kept for the run: a kept digest answers only for a file that has not changed
// since, as far as its size and last-write time tell, and that had settled before it was read.
#include "mendwell/engine/digest_memo.h"
#include "mendwell/engine/file_operation.h"
#include "platform/fs/file.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

constexpr const wchar_t* kFile = L"C:\\P\\f.bin";

TEST_F(EngineTest, KeptDigestAnswersOnlyForAnUnchangedSettledFile) {
    struct Row {
        const char* name;
        bool settled;   // last written an hour before it is first hashed
        bool rewrite;   // then other bytes of the same size
        bool timeBack;  // and its last-write time put back as it was
        bool forget;    // an entry of the run named it
        bool hold;      // held open without sharing when asked again
        bool fresh;     // the second answer is the new bytes' digest
    };
    // clang-format off
    for (const Row& row : {
             Row{"settled, unchanged, held: the kept digest answers", true, false, false, false, true, false},
             Row{"settled, rewritten: read again", true, true, false, false, false, true},
             Row{"settled, rewritten, time put back, forgotten: read again", true, true, true, true, false, true},
             Row{"just written, rewritten, time put back: read again", false, true, true, false, false, true},
         }) {
        // clang-format on
        SCOPED_TRACE(row.name);
        clearFiles();
        mw::forgetDigests();
        win::createDirectory(L"C:\\P");
        put(kFile, "old bytes 1");
        if (row.settled) {
            const win::FileTime hourAgo = win::currentFileTime() - 36'000'000'000ull;
            ASSERT_TRUE(win::setFileTimes(kFile, nullptr, nullptr, &hourAgo));
        }
        win::FileTimes first;
        ASSERT_TRUE(win::getFileTimes(kFile, first));
        EXPECT_TRUE(mw::sameChecksum(mw::memoMd5Text(kFile), md5Of("old bytes 1")));
        if (row.rewrite) put(kFile, "new bytes 2");
        if (row.timeBack) {
            ASSERT_TRUE(win::setFileTimes(kFile, nullptr, nullptr, &first.lastWrite));
        }
        if (row.forget) mw::forgetDigest(kFile);
        win::File holder;
        if (row.hold) {
            ASSERT_TRUE(holder.open(kFile, win::access::read, win::share::none, win::Disposition::openExisting));
        }
        EXPECT_TRUE(mw::sameChecksum(mw::memoMd5Text(kFile), md5Of(row.fresh ? "new bytes 2" : "old bytes 1")));
    }
    mw::forgetDigests();
}

}  // namespace
}  // namespace engine_test
