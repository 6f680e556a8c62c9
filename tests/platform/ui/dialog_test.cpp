// Dialogs from templates: scripts, the blocking send from workers, timers, dialog units, and the Qt
// backend drawing offscreen.
#include "platform/ui/dialog.h"

#include <QFont>
#include <QGlyphRun>
#include <QImage>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <tuple>

#include "platform/ui/messagebox.h"
#include "platform/ui/messagebox_backends.h"
#include "tests/support/testmachine.h"

namespace {

using namespace win::ui;

DialogTemplate sample() {
    DialogTemplate t;
    t.id = 7;
    t.caption = L"Sample";
    t.cx = 200;
    t.cy = 100;
    t.controls = {{10, ControlKind::text, L"Hello", 5, 5, 190, 20, 0},
                  {11, ControlKind::progress, L"", 5, 30, 190, 10, style::hidden},
                  {1, ControlKind::button, L"OK", 140, 80, 50, 14, 0},
                  {3, ControlKind::button, L"Hidden", 80, 80, 50, 14, style::hidden}};
    return t;
}

TEST(Dialog, ScriptDrivesCommandsAndEveryChangeIsRecorded) {
    ScriptedBackend backend;
    Dialog d(sample(), backend);
    int asked = 0;
    d.onInit([&] { d.setCaption(L"Hi"); });
    d.onCommand(3, [&] { d.end(3); });  // hidden: a click must not reach it
    d.onCommand(1, [&] {
        asked = d.messageBox(L"Sure?", L"Hi", win::mb::yesNo);
        d.show(11, true);
        d.setProgress(11, 140);
        d.setText(10, L"Line\r\ntwo");
    });
    d.onCommand(2, [&] { d.end(2); });
    d.setScript(parseScript("# comment\nclick 3\nanswer no\nclick 1\nawait progress 11 >= 100\nclose\n"));
    EXPECT_EQ(d.runModal(), 2);
    EXPECT_EQ(asked, win::idbutton::no);
    const std::vector<std::string> expected = {"caption <Hi>",
                                               "click 1",
                                               "box caption=<Hi> text=<Sure?> answer=7",
                                               "show 11 1",
                                               "progress 11 100",
                                               "text 10 <Line\\r\\ntwo>",
                                               "click 2",
                                               "end 2"};
    EXPECT_EQ(d.record(), expected);
}

TEST(Dialog, SendFromAWorkerWaitsForTheDialogThreadAndEndsWithIt) {
    ScriptedBackend backend;
    Dialog d(sample(), backend);
    std::thread::id handledOn;
    d.onMessage(0x464, [&](std::intptr_t p) {
        handledOn = std::this_thread::get_id();
        d.setProgress(11, static_cast<int>(p));
        return p * 2;
    });
    std::atomic<std::intptr_t> answer{0};
    std::thread worker;
    d.onInit([&] { worker = std::thread([&] { answer = d.sendMessage(0x464, 21); }); });
    d.setScript(parseScript("await progress 11 >= 21\nclick 1\n"));
    d.onCommand(1, [&] { d.end(1); });
    EXPECT_EQ(d.runModal(), 1);
    worker.join();
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    // A window that is gone answers nothing, at once.
    std::thread late([&] { answer = d.sendMessage(0x464, 5); });
    late.join();
    EXPECT_EQ(answer, 0);
}

TEST(Dialog, TimersFireOnTheDialogThreadUntilKilled) {
    ScriptedBackend backend;
    Dialog d(sample(), backend);
    int ticks = 0;
    d.onInit([&] {
        d.setTimer(1, 2, [&] {
            if (++ticks == 3) {
                d.killTimer(1);
                d.end(0);
            }
        });
    });
    d.setScript(parseScript("await text 10 never\n"));
    EXPECT_EQ(d.runModal(), 0);
    EXPECT_EQ(ticks, 3);
}

TEST(Dialog, WithoutAScriptHeadlessDialogsEndAtOnce) {
    ScriptedBackend backend;
    Dialog d(sample(), backend);
    EXPECT_EQ(d.runModal(), -1);
}

// Check boxes toggle, radio buttons clear their group, lists take the user's pick, edits the user's
// text, and a dialog opened from another one plays the following steps of the same script.
TEST(Dialog, ControlsAndNestedDialogsShareTheScript) {
    DialogTemplate t = sample();
    t.controls.insert(t.controls.end(),
                      {{20, ControlKind::checkBox, L"Check", 5, 45, 60, 10, 0},
                       {21, ControlKind::radioButton, L"A", 5, 57, 60, 10, style::group},
                       {22, ControlKind::radioButton, L"B", 70, 57, 60, 10, 0},
                       {23, ControlKind::radioButton, L"Other group", 5, 69, 60, 10, style::group},
                       {24, ControlKind::comboBox, L"", 70, 69, 60, 12, 0},
                       {25, ControlKind::edit, L"", 135, 45, 60, 12, 0}});
    ScriptedBackend backend;
    Dialog d(t, backend);
    std::wstring picked, chosenFile, inner;
    bool innerOk = false;
    d.onInit([&] {
        d.setCheck(23, 1);
        d.setItems(24, {L"one", L"Two"});
    });
    d.onSelect(24, [&] { picked = d.text(24); });
    d.onCommand(1, [&] {
        std::wstring path;
        if (d.fileDialog({}, path)) chosenFile = path;
        Dialog nested(sample(), backend);
        nested.setScript(d.script());
        nested.onCommand(1, [&] {
            inner = d.text(25);
            innerOk = nested.messageBox(L"Inner?", L"N", win::mb::yesNo) == win::idbutton::no;
            nested.end(1);
        });
        nested.runModal();
    });
    d.onCommand(2, [&] { d.end(2); });
    d.setScript(
        parseScript("click 20\nclick 21\nclick 22\nselect 24 1\ntype 25 typed text\n"
                    "file C:\\x\\a.png\nclick 1\nanswer no\nclick 1\nclose\n"));
    EXPECT_EQ(d.runModal(), 2);
    EXPECT_EQ(d.checked(20), 1);
    EXPECT_EQ(std::vector<int>({d.checked(21), d.checked(22), d.checked(23)}), std::vector<int>({0, 1, 1}));
    EXPECT_EQ(picked, L"Two");
    EXPECT_EQ(d.findItem(24, L"TWO"), 1);
    EXPECT_EQ(chosenFile, L"C:\\x\\a.png");
    EXPECT_EQ(inner, L"typed text");
    EXPECT_TRUE(innerOk);
    // Disabled controls take nothing from the user.
    d.enable(25, false);
    d.userText(25, L"later");
    EXPECT_EQ(d.text(25), L"typed text");
}

TEST(QtDialog, DrawsImagesOnTheirBackgroundAndLinksInTheirColour) {
    if (!qtCanDraw()) GTEST_SKIP() << "QT_QPA_PLATFORM is not set";
    testing_support::TempDir dir;
    const auto shot = dir.path() / "preview.png";
    DialogTemplate t = sample();
    t.controls.push_back({30, ControlKind::image, L"", 5, 45, 40, 30, 0});
    t.controls.push_back({31, ControlKind::link, L"www.example.com", 50, 45, 80, 10, 0});
    auto backend = makeDialogBackend(true);
    Dialog d(t, *backend);
    d.onInit([&] {
        d.setImage(30, {}, 0xFFF5F5F5);
        d.setColor(31, 0xFF800080);
    });
    int linkClicks = 0;
    d.onCommand(31, [&] { ++linkClicks; });
    d.setScript(parseScript("click 31\nshot " + shot.string() + "\nclick 1\n"));
    d.onCommand(1, [&] { d.end(1); });
    EXPECT_EQ(d.runModal(), 1);
    EXPECT_EQ(linkClicks, 1);
    // The image area is cleared to its background: the shot's pixel there is 0xF5F5F5.
    const DialogBaseUnits u = backend->baseUnits();
    QImage image(QString::fromStdString(shot.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.pixel(u.toPixelsX(5) + 3, u.toPixelsY(45) + 3) & 0xFFFFFF, 0xF5F5F5u);
}

TEST(DialogUnits, ConvertAsMapDialogRect) {
    // MS Shell Dlg 8 at 96 dpi: base units 6 x 13.
    const DialogBaseUnits u{6, 13};
    const std::tuple<int, int, int> rows[] = {
        {364, 546, 592}, {204, 306, 332}, {66, 99, 107}, {13, 20, 21}, {1, 2, 2}};  // halves round up
    for (const auto& [units, px, py] : rows) {
        EXPECT_EQ(u.toPixelsX(units), px) << units;
        EXPECT_EQ(u.toPixelsY(units), py) << units;
    }
}

TEST(QtDialog, DrawsOffscreenAndSavesTheWindow) {
    if (!qtCanDraw()) GTEST_SKIP() << "QT_QPA_PLATFORM is not set";
    testing_support::TempDir dir;
    const auto shot = dir.path() / "sample.png";
    auto backend = makeDialogBackend(true);
    Dialog d(sample(), *backend);
    d.onCommand(1, [&] { d.end(1); });
    d.setScript(parseScript("shot " + shot.string() + "\nclick 1\n"));
    EXPECT_EQ(d.runModal(), 1);
    const std::string png = testing_support::readHostFile(shot);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    // Width and height (IHDR) are those of 200 x 100 dialog units: twice as wide as high, give or take
    // the font's proportions.
    auto be32 = [&](std::size_t at) {
        return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16) |
               (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_GT(be32(16), be32(20));
}

// Japanese, Chinese and Korean texts in the dialogs' font: every glyph comes from some installed font
// (glyph 0 is the empty box drawn for a character no font has).
TEST(QtDialog, JapaneseChineseAndKoreanTextsHaveTheirGlyphs) {
    if (!qtCanDraw()) GTEST_SKIP() << "QT_QPA_PLATFORM is not set";
    ASSERT_TRUE(ensureQtApplication());
    QFont font(QStringLiteral("MS Shell Dlg"));
    font.setPointSize(8);
    for (const char* text :
         {"パッチをインストールしています", "正在安装修补程序", "正在安裝修補程式", "패치를 설치하는 중"}) {
        SCOPED_TRACE(text);
        QTextLayout layout(QString::fromUtf8(text), font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        int glyphs = 0, missing = 0;
        for (const QGlyphRun& run : layout.glyphRuns()) {
            for (quint32 index : run.glyphIndexes()) {
                ++glyphs;
                missing += index == 0 ? 1 : 0;
            }
        }
        EXPECT_GT(glyphs, 0);
        EXPECT_EQ(missing, 0);
    }
}

}  // namespace
