// The extension's dialogs in process: their templates, and the digital signature dialog's choices.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "platform/ui/messagebox_backends.h"
#include "tests/support/testmachine.h"
#include "vireo/dialogs/digital_signature_dialog.h"
#include "vireo/resources/dialog_templates.h"
#include "vireo/settings_store.h"

namespace {

using win::ui::ControlKind;
using win::ui::DialogTemplate;

struct Expected {
    int id;
    ControlKind kind;
    const wchar_t* text;  // null: any
};

struct Resource {
    DialogTemplate (*make)();
    int id;
    const wchar_t* caption;
    std::vector<Expected> controls;
    std::vector<const wchar_t*> labels;  // static texts beside the controls
};

const ControlKind E = ControlKind::edit, B = ControlKind::button, C = ControlKind::checkBox,
                  R = ControlKind::radioButton, L = ControlKind::listBox, T = ControlKind::text,
                  I = ControlKind::image;

std::vector<Resource> resources() {
    return {
        {vireo::appSettingsTemplate,
         2000,
         L"KITE — Настройки приложения и программы установки",
         {{2009, E, nullptr},
          {2011, E, nullptr},
          {2013, E, nullptr},
          {2014, E, nullptr},
          {2016, E, nullptr},
          {4010, E, nullptr},
          {4011, ControlKind::dropList, nullptr},
          {4012, B, L"Выбор изображений значков"},
          {5113, B, L"Настройки..."},
          {5013, C, L"Использовать заказной файл описателя приложения"},
          {5014, E, nullptr},
          {5015, B, nullptr},
          {5076, T, nullptr},
          {5078, B, nullptr},
          {5016, E, nullptr},
          {5017, B, nullptr},
          {5021, L, nullptr},
          {5018, B, nullptr},
          {5019, B, nullptr},
          {5020, B, nullptr},
          {1, B, L"OK"},
          {2, B, L"Отмена"},
          {2001, B, L"Публикация файла KITE"},
          {2002, B, L"Справка"}},
         {L"Имя файла:", L"Имя:", L"Версия:", L"ID:", L"Описание:", L"Авторские права:", L"Стиль окна:",
          L"Цифровая подпись:", L"Место назначения:", L"Включенные файлы:"}},
        {vireo::advancedSettingsTemplate,
         4014,
         L"Дополнительные настройки",
         {{5121, L, nullptr},
          {5117, B, nullptr},
          {5118, B, nullptr},
          {5119, B, nullptr},
          {5123, E, nullptr},
          {5124, E, nullptr},
          {5125, E, nullptr},
          {5126, E, nullptr},
          {5127, E, nullptr},
          {5128, E, nullptr},
          {5129, E, nullptr},
          {5130, E, nullptr},
          {5131, C, L"Развертываемое"},
          {5132, C, L"Свертываемое"},
          {5133, C, L"Масштабируемое"},
          {5134, C, L"Видимое"},
          {5138, E, nullptr},
          {5139, E, nullptr},
          {5140, C, L"Использовать заказной интерфейс для обновлений"},
          {1, B, L"OK"},
          {2, B, L"Отмена"},
          {5141, B, L"Справка"}},
         {L"Связанные типы файлов", L"Начальные настройки окна", L"Ширина:", L"Высота:", L"X:", L"Y:",
          L"Максимальная ширина:", L"Максимальная высота:", L"Минимальная ширина:", L"Минимальная высота:",
          L"Другие настройки", L"Папка установки:", L"Папка меню программы:"}},
        {vireo::fileTypeTemplate,
         4015,
         L"Настройки типа файла",
         {{5155, E, nullptr}, {5156, E, nullptr}, {5157, E, nullptr},   {5158, E, nullptr},
          {5159, I, nullptr}, {5160, I, nullptr}, {5161, I, nullptr},   {5162, I, nullptr},
          {5163, E, nullptr}, {5164, E, nullptr}, {5165, E, nullptr},   {5166, E, nullptr},
          {5168, B, nullptr}, {5169, B, nullptr}, {5170, B, nullptr},   {5171, B, nullptr},
          {5172, B, nullptr}, {5173, B, nullptr}, {5174, B, nullptr},   {5175, B, nullptr},
          {1, B, L"OK"},      {2, B, L"Отмена"},  {5152, B, L"Справка"}},
         {L"Имя:", L"Расширение:", L"Описание:", L"Тип содержимого:", L"Настройки значка типа файла",
          L"128x128", L"48x48", L"32x32", L"16x16"}},
        {vireo::iconPreviewTemplate,
         2006,
         L"Изображения значков",
         {{5044, I, nullptr},
          {5045, I, nullptr},
          {5046, I, nullptr},
          {5047, I, nullptr},
          {5054, E, nullptr},
          {5055, E, nullptr},
          {5056, E, nullptr},
          {5057, E, nullptr},
          {5058, B, nullptr},
          {5059, B, nullptr},
          {5060, B, nullptr},
          {5061, B, nullptr},
          {5062, B, nullptr},
          {5063, B, nullptr},
          {5064, B, nullptr},
          {5065, B, nullptr},
          {1, B, L"OK"},
          {2, B, L"Отмена"}},
         {L"Просмотр", L"Местонахождения файлов значков", L"128x128", L"48x48", L"32x32", L"16x16"}},
        {vireo::digitalSignatureTemplate,
         5010,
         L"Цифровая подпись",
         {{5079, R, L"Подписать файл KITE при помощи цифрового сертификата"},
          {5080, R, L"Подготовить промежуточный файл KITE (KITEI), который будет подписан позже"},
          {5110, ControlKind::comboBox, nullptr},
          {5082, B, L"Обзор..."},
          {5083, B, L"Создать..."},
          {5084, E, nullptr},
          {5085, C, L"Запомнить пароль для этого сеанса"},
          {5001, C, L"Метка времени"},
          {1, B, L"OK"},
          {2, B, L"Отмена"},
          {5090, B, L"Справка"},
          {5088, T, L"      Укажите цифровой сертификат, представляющий удостоверение издателя приложения."}},
         {L"Сертификат:", L"Пароль:"}},
        {vireo::selfSignTemplate,
         5011,
         L"Создание самозаверенного цифрового сертификата",
         {{5092, E, nullptr},
          {5094, E, nullptr},
          {5093, E, nullptr},
          {5095, E, nullptr},
          {5096, E, nullptr},
          {5097, E, nullptr},
          {5098, ControlKind::dropList, nullptr},
          {5099, E, nullptr},
          {5100, B, L"Обзор..."},
          {1, B, L"OK"},
          {2, B, L"Отмена"},
          {5109, B, L"Справка"}},
         {L"Имя издателя:", L"Подразделение:", L"Название организации:", L"Страна:", L"Пароль:",
          L"Подтвердите пароль:", L"Тип:", L"Сохранить как:"}},
        {vireo::timestampRetryTemplate,
         5027,
         L"Orvex Lumen TX4",
         {{4101, T,
           L"Ошибка при подключении к серверу меток времени. Возможно, отсутствует подключение к сети или "
           L"возникли неполадки на сервере."},
          {4102, T,
           L"Если отключить метки времени, то приложение KITE не сможет быть установлено по истечении срока "
           L"действия цифрового сертификата."},
          {1, B, L"Повторить"},
          {4103, B, L"Отключить метки времени"},
          {2, B, L"Отмена"}},
         {}},
        {vireo::infoAlertTemplate,
         2003,
         L"О разработке для Orvex KITE",
         {{5041, I, nullptr},
          {5036, T, L"Разработка для KITE с использованием Lumen TX4"},
          {5037, T, L"Настройки приложения KITE доступны через меню \"Команды\"."},
          {5038, T, L"Команды \"Тестировать ролик\" и \"Отладка ролика\" запускают приложение в среде KITE."},
          {5039, T,
           L"Сведения о разработке для KITE можно получить в KITE по нажатию кнопки \"Справка\" в диалоговом "
           L"окне \"Настройки приложения и программы установки\" и"},
          {5040, ControlKind::link, nullptr},
          {5035, C, L"Больше не показывать"},
          {1, B, L"OK"}},
         {}},
    };
}

bool overlaps(const win::ui::ControlTemplate& a, const win::ui::ControlTemplate& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}

// Every control named for a dialog is in its resource with its kind and label; nothing lies outside the
// dialog or on another control that takes input; drawn by Qt, each control sits at its template's
// rectangle converted from dialog units.
TEST(DialogResources, EveryControlAtItsPlace) {
    for (const Resource& r : resources()) {
        const DialogTemplate t = r.make();
        SCOPED_TRACE(t.id);
        EXPECT_EQ(t.id, r.id);
        EXPECT_EQ(t.caption, r.caption);
        EXPECT_EQ(t.fontName, L"MS Shell Dlg");
        EXPECT_EQ(t.fontPoints, 8);
        for (const Expected& e : r.controls) {
            const auto it = std::find_if(t.controls.begin(), t.controls.end(),
                                         [&](const auto& c) { return c.id == e.id; });
            ASSERT_NE(it, t.controls.end()) << e.id;
            EXPECT_EQ(it->kind, e.kind) << e.id;
            if (e.text) {
                EXPECT_EQ(it->text, e.text) << e.id;
            }
        }
        for (const wchar_t* label : r.labels)
            EXPECT_TRUE(std::any_of(t.controls.begin(), t.controls.end(), [&](const auto& c) {
                return c.id == vireo::kIdStatic && c.text == label;
            })) << win::toUtf8(label);
        auto input = [](const win::ui::ControlTemplate& c) {
            return c.kind != ControlKind::groupBox && c.kind != ControlKind::text;
        };
        for (std::size_t i = 0; i < t.controls.size(); ++i) {
            const auto& a = t.controls[i];
            EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.cx <= t.cx && a.y + a.cy <= t.cy) << a.id;
            for (std::size_t j = i + 1; j < t.controls.size(); ++j)
                if (input(a) && input(t.controls[j])) {
                    EXPECT_FALSE(overlaps(a, t.controls[j])) << a.id << " " << t.controls[j].id;
                }
        }

        if (!win::ui::qtCanDraw()) continue;
        auto backend = win::ui::makeDialogBackend(true);
        win::ui::Dialog d(t, *backend);
        d.onInit([&] {
            const win::ui::DialogBaseUnits u = backend->baseUnits();
            for (const auto& c : t.controls) {
                if (c.id <= 0) continue;
                int x = 0, y = 0, cx = 0, cy = 0;
                ASSERT_TRUE(backend->placement(d, c.id, x, y, cx, cy)) << c.id;
                EXPECT_EQ(std::vector<int>({x, y, cx, cy}),
                          std::vector<int>(
                              {u.toPixelsX(c.x), u.toPixelsY(c.y), u.toPixelsX(c.cx), u.toPixelsY(c.cy)}))
                    << c.id;
            }
            d.end(0);
        });
        d.runModal();
    }
}

// A preview paints its whole rectangle: inside a group it stays below the group's caption and the frame
// line drawn under it, and above the frame's bottom.
TEST(DialogResources, PreviewsClearOfTheirGroupFrames) {
    constexpr int kCaption = 14, kBottom = 2;  // dialog units
    for (const Resource& r : resources()) {
        const DialogTemplate t = r.make();
        SCOPED_TRACE(t.id);
        for (const auto& group : t.controls) {
            if (group.kind != ControlKind::groupBox) continue;
            for (const auto& c : t.controls)
                if (c.kind == ControlKind::image && overlaps(c, group)) {
                    EXPECT_GE(c.y, group.y + kCaption) << c.id;
                    EXPECT_LE(c.y + c.cy, group.y + group.cy - kBottom) << c.id;
                    EXPECT_TRUE(c.x > group.x && c.x + c.cx < group.x + group.cx) << c.id;
                }
        }
    }
}

class SignatureDialog : public ::testing::Test {
  protected:
    testing_support::TestMachine machine;
    vireo::SettingsStore store;

    void SetUp() override {
        machine.writeFile(L"C:\\certs\\a.p12", "a");
        machine.writeFile(L"C:\\certs\\b.p12", "b");
    }
    static void prefs(const std::wstring& subKey, const std::wstring& name, const std::wstring& value) {
        win::RegKey key;
        ASSERT_EQ(key.create(win::RegRoot::currentUser, L"Software\\Orvex\\Lumen 9\\KITE Settings" +
                                                            (subKey.empty() ? L"" : L"\\" + subKey)),
                  0);
        key.setString(name, value);
    }
    static std::wstring pref(const std::wstring& name) {
        win::RegKey key;
        std::wstring v;
        if (key.open(win::RegRoot::currentUser, L"Software\\Orvex\\Lumen 9\\KITE Settings") == 0)
            key.queryString(name, v);
        return v;
    }
    // Runs the dialog on `script`; its answer and what it recorded, one line each.
    std::pair<int, std::string> run(const std::string& script) {
        vireo::CDigitalSigDlg dialog(store);
        dialog.window().setScript(win::ui::parseScript(script));
        const int answer = dialog.doModal();
        std::string record;
        for (const auto& line : dialog.window().record()) record += line + "\n";
        return {answer, record};
    }
};

bool has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

TEST_F(SignatureDialog, OpeningAndOkStoreTheChoices) {
    struct Row {
        const char* name;
        std::function<void(vireo::SettingsStore&)> setup;
        std::string script;
        int answer;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> stored;  // key, value
        std::vector<std::string> recorded;
        std::wstring lastSelected;  // the user's "Last Selected Cert" afterwards, when not empty
    };
    const Row rows[] = {
        {"first opening with nothing stored",
         [](auto&) {},
         "close\n",
         2,
         {{vireo::key::signing, L""}},
         {"check 5079 1", "items 5110\n", "check 5001 1"},
         L""},
        {"a certificate from the history moves to the top",
         [](auto&) {
             prefs(L"CertPath", L"file1", L"C:\\certs\\a.p12");
             prefs(L"CertPath", L"file2", L"C:\\certs\\b.p12");
             prefs(L"CertPath", L"file3", L"C:\\certs\\gone.p12");
             prefs(L"", L"Last Selected Cert", L"C:/certs/a.p12");
         },
         "select 5110 1\ntype 5084 pw\nclick 1\n",
         1,
         {{vireo::key::signing, L"sign"},
          {vireo::key::certPath, L"C:/certs/b.p12"},
          {vireo::key::certPassword, L"pw"},
          {vireo::key::timestamp, L"true"},
          {vireo::key::rememberPassword, L"false"}},
         {"insert 5110 1 <C:\\certs\\b.p12>\nselect 5110 0\n", "choose 5110 1\n",
          "remove 5110 1\ninsert 5110 0 <C:\\certs\\b.p12>\n"},
         L"C:/certs/b.p12"},
        {"timestamp box cleared and answered No",
         [](auto&) {},
         "type 5110 C:\\certs\\a.p12\ntype 5084 pw\nclick 5001\nanswer no\nclick 1\n",
         1,
         {{vireo::key::timestamp, L"true"}, {vireo::key::certPath, L"C:/certs/a.p12"}},
         {"check 5001 0", "answer=7"},
         L""},
        {"timestamp box cleared and answered Yes",
         [](auto&) {},
         "type 5110 C:\\certs\\a.p12\ntype 5084 pw\nclick 5001\nanswer yes\nclick 5085\nclick 1\n",
         1,
         {{vireo::key::timestamp, L"false"}, {vireo::key::rememberPassword, L"true"}},
         {"answer=6"},
         L""},
        {"a missing certificate and an empty password keep the dialog open",
         [](auto&) {},
         "type 5110 C:\\certs\\none.p12\nclick 1\ntype 5110 C:\\certs\\a.p12\nclick 1\nawait text 5084 "
         "\nclose\n",
         2,
         {{vireo::key::certPassword, L""}},
         {"click 1\nbox", "end 2"},
         L""},
        {"prepare disables the certificate and keeps the remembered password",
         [](auto& s) {
             s.set(vireo::key::signing, L"prepare");
             s.set(vireo::key::rememberPassword, L"true");
             s.set(vireo::key::certPassword, L"kept");
             s.set(vireo::key::timestamp, L"false");
         },
         "click 1\n",
         1,
         {{vireo::key::signing, L"prepare"},
          {vireo::key::certPassword, L"kept"},
          {vireo::key::timestamp, L"false"}},
         {"check 5080 1", "enable 5110 0", "text 5084 <kept>", "check 5001 0"},
         L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        store = {};
        win::RegKey key;
        key.open(win::RegRoot::currentUser, L"Software\\Orvex\\Lumen 9");
        key.deleteTree(L"KITE Settings");
        row.setup(store);
        const auto [answer, record] = run(row.script);
        EXPECT_EQ(answer, row.answer) << record;
        for (const auto& [k, v] : row.stored) EXPECT_EQ(store.value(k), v) << win::toUtf8(k);
        for (const auto& line : row.recorded) EXPECT_TRUE(has(record, line)) << line << "\n" << record;
        if (!row.lastSelected.empty()) {
            EXPECT_EQ(pref(L"Last Selected Cert"), row.lastSelected);
        }
    }
}

}  // namespace
