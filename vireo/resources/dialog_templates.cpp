#include "vireo/resources/dialog_templates.h"

namespace vireo {

namespace {

using win::ui::ControlKind;
using win::ui::ControlTemplate;
using win::ui::DialogTemplate;
namespace st = win::ui::style;

constexpr auto text = ControlKind::text;
constexpr auto edit = ControlKind::edit;
constexpr auto button = ControlKind::button;
constexpr auto check = ControlKind::checkBox;
constexpr auto radio = ControlKind::radioButton;
constexpr auto group = ControlKind::groupBox;
constexpr auto image = ControlKind::image;

DialogTemplate dialog(int id, const wchar_t* caption, int cx, int cy, std::vector<ControlTemplate> controls) {
    DialogTemplate t;
    t.id = id;
    t.caption = caption;
    t.cx = cx;
    t.cy = cy;
    t.controls = std::move(controls);
    return t;
}

// OK and Cancel at the bottom right of a dialog `cx` wide, at `y`.
void okCancel(std::vector<ControlTemplate>& c, int cx, int y) {
    c.push_back({1, button, L"OK", cx - 107, y, 48, 14, st::defaultButton});
    c.push_back({2, button, L"Отмена", cx - 55, y, 48, 14, 0});
}

// Four rows of icon path edits (128, 48, 32, 16) with browse and clear buttons, from `y` on.
void iconRows(std::vector<ControlTemplate>& c, int y, int firstEdit, int firstBrowse, int firstClear) {
    const wchar_t* sizes[] = {L"128x128", L"48x48", L"32x32", L"16x16"};
    for (int i = 0; i < 4; ++i) {
        const int row = y + 18 * i;
        c.push_back({kIdStatic, text, sizes[i], 14, row + 3, 30, 8, 0});
        c.push_back({firstEdit + i, edit, L"", 46, row, 190, 14, 0});
        c.push_back({firstBrowse + i, button, L"...", 240, row, 20, 14, 0});
        c.push_back({firstClear + i, button, L"X", 264, row, 20, 14, 0});
    }
}

}  // namespace

DialogTemplate appSettingsTemplate() {
    std::vector<ControlTemplate> c = {
        {kIdStatic, text, L"Имя файла:", 7, 9, 60, 8, 0},
        {2009, edit, L"", 70, 7, 122, 14, 0},
        {kIdStatic, text, L"Версия:", 200, 9, 40, 8, 0},
        {2013, edit, L"", 245, 7, 75, 14, 0},
        {kIdStatic, text, L"Имя:", 7, 27, 60, 8, 0},
        {2011, edit, L"", 70, 25, 122, 14, 0},
        {kIdStatic, text, L"ID:", 7, 45, 60, 8, 0},
        {2014, edit, L"", 70, 43, 250, 14, 0},
        {kIdStatic, text, L"Описание:", 7, 63, 60, 8, 0},
        {2016, edit, L"", 70, 61, 250, 36, st::multiline | st::vscroll},
        {kIdStatic, text, L"Авторские права:", 7, 103, 62, 8, 0},
        {4010, edit, L"", 70, 101, 250, 14, 0},
        {kIdStatic, text, L"Стиль окна:", 7, 121, 60, 8, 0},
        {4011, ControlKind::dropList, L"", 70, 119, 150, 14, 0},
        {4012, button, L"Выбор изображений значков", 70, 137, 122, 14, 0},
        {5113, button, L"Настройки...", 198, 137, 64, 14, 0},
        {5013, check, L"Использовать заказной файл описателя приложения", 7, 158, 313, 10, 0},
        {5014, edit, L"", 17, 170, 279, 14, 0},
        {5015, button, L"...", 300, 170, 20, 14, st::flat},
        {kIdStatic, text, L"Цифровая подпись:", 7, 192, 66, 8, 0},
        {5076, text, L"", 75, 192, 176, 16, 0},
        {5078, button, L"Задать...", 255, 189, 65, 14, 0},
        {kIdStatic, text, L"Место назначения:", 7, 212, 66, 8, 0},
        {5016, edit, L"", 75, 210, 221, 14, 0},
        {5017, button, L"...", 300, 210, 20, 14, st::flat},
        {kIdStatic, text, L"Включенные файлы:", 7, 230, 80, 8, 0},
        {5018, button, L"+", 232, 227, 18, 12, st::flat},
        {5019, button, L"-", 252, 227, 18, 12, st::flat},
        {5020, button, L"Папка...", 272, 227, 48, 12, st::flat},
        {5021, ControlKind::listBox, L"", 7, 241, 313, 62, st::vscroll},
        {2002, button, L"Справка", 7, 310, 50, 14, 0},
        {2001, button, L"Публикация файла KITE", 118, 310, 98, 14, 0},
    };
    okCancel(c, 327, 310);
    return dialog(2000, L"KITE — Настройки приложения и программы установки", 327, 331, std::move(c));
}

DialogTemplate advancedSettingsTemplate() {
    std::vector<ControlTemplate> c = {
        {kIdStatic, group, L"Связанные типы файлов", 7, 7, 286, 70, 0},
        {5121, ControlKind::listBox, L"", 14, 19, 210, 52, st::vscroll},
        {5117, button, L"Добавить...", 230, 19, 56, 14, 0},
        {5118, button, L"Удалить", 230, 37, 56, 14, 0},
        {5119, button, L"Изменить...", 230, 55, 56, 14, 0},
        {kIdStatic, group, L"Начальные настройки окна", 7, 82, 286, 110, 0},
    };
    const struct {
        const wchar_t* left;
        int leftId;
        const wchar_t* right;
        int rightId;
    } rows[] = {{L"Ширина:", 5123, L"Высота:", 5124},
                {L"X:", 5125, L"Y:", 5126},
                {L"Максимальная ширина:", 5127, L"Максимальная высота:", 5128},
                {L"Минимальная ширина:", 5129, L"Минимальная высота:", 5130}};
    int y = 94;
    for (const auto& r : rows) {
        c.push_back({kIdStatic, text, r.left, 14, y + 3, 80, 8, 0});
        c.push_back({r.leftId, edit, L"", 96, y, 44, 14, st::number});
        c.push_back({kIdStatic, text, r.right, 150, y + 3, 84, 8, 0});
        c.push_back({r.rightId, edit, L"", 238, y, 44, 14, st::number});
        y += 18;
    }
    c.insert(c.end(),
             {
                 {5131, check, L"Развертываемое", 14, 170, 66, 10, 0},
                 {5132, check, L"Свертываемое", 82, 170, 62, 10, 0},
                 {5133, check, L"Масштабируемое", 146, 170, 72, 10, 0},
                 {5134, check, L"Видимое", 222, 170, 60, 10, 0},
                 {kIdStatic, group, L"Другие настройки", 7, 197, 286, 66, 0},
                 {kIdStatic, text, L"Папка установки:", 14, 212, 84, 8, 0},
                 {5138, edit, L"", 100, 209, 186, 14, 0},
                 {kIdStatic, text, L"Папка меню программы:", 14, 230, 84, 8, 0},
                 {5139, edit, L"", 100, 227, 186, 14, 0},
                 {5140, check, L"Использовать заказной интерфейс для обновлений", 14, 247, 272, 10, 0},
                 {5141, button, L"Справка", 7, 270, 50, 14, 0},
             });
    okCancel(c, 300, 270);
    return dialog(4014, L"Дополнительные настройки", 300, 291, std::move(c));
}

DialogTemplate fileTypeTemplate() {
    std::vector<ControlTemplate> c = {
        {kIdStatic, text, L"Имя:", 7, 10, 70, 8, 0},
        {5155, edit, L"", 80, 7, 213, 14, 0},
        {kIdStatic, text, L"Расширение:", 7, 28, 70, 8, 0},
        {5156, edit, L"", 80, 25, 213, 14, 0},
        {kIdStatic, text, L"Описание:", 7, 46, 70, 8, 0},
        {5157, edit, L"", 80, 43, 213, 14, 0},
        {kIdStatic, text, L"Тип содержимого:", 7, 64, 70, 8, 0},
        {5158, edit, L"", 80, 61, 213, 14, 0},
        {kIdStatic, group, L"Настройки значка типа файла", 7, 82, 286, 176, 0},
        // Previews of 128, 48, 32 and 16 pixels at the base units of MS Shell Dlg 8 (6 x 13), clear of
        // the group's caption and frame line.
        {5159, image, L"", 14, 98, 86, 79, 0},
        {5160, image, L"", 108, 98, 32, 30, 0},
        {5161, image, L"", 148, 98, 22, 20, 0},
        {5162, image, L"", 178, 98, 11, 10, 0},
    };
    iconRows(c, 181, 5163, 5168, 5172);
    c.push_back({5152, button, L"Справка", 7, 264, 50, 14, 0});
    okCancel(c, 300, 264);
    return dialog(4015, L"Настройки типа файла", 300, 285, std::move(c));
}

DialogTemplate iconPreviewTemplate() {
    std::vector<ControlTemplate> c = {
        // A preview paints its whole area: it starts below the caption and the frame line under it.
        {kIdStatic, group, L"Просмотр", 7, 7, 286, 108, 0},
        {5044, image, L"", 14, 23, 86, 79, 0},
        {kIdStatic, text, L"128x128", 14, 104, 86, 8, 0},
        {5045, image, L"", 110, 23, 32, 30, 0},
        {kIdStatic, text, L"48x48", 110, 56, 40, 8, 0},
        {5046, image, L"", 156, 23, 22, 20, 0},
        {kIdStatic, text, L"32x32", 156, 46, 30, 8, 0},
        {5047, image, L"", 192, 23, 11, 10, 0},
        {kIdStatic, text, L"16x16", 192, 36, 30, 8, 0},
        {kIdStatic, group, L"Местонахождения файлов значков", 7, 120, 286, 86, 0},
    };
    iconRows(c, 133, 5054, 5058, 5062);
    okCancel(c, 300, 212);
    return dialog(2006, L"Изображения значков", 300, 233, std::move(c));
}

DialogTemplate digitalSignatureTemplate() {
    std::vector<ControlTemplate> c = {
        {5088, text, L"      Укажите цифровой сертификат, представляющий удостоверение издателя приложения.",
         7, 7, 286, 18, 0},
        {5079, radio, L"Подписать файл KITE при помощи цифрового сертификата", 7, 30, 286, 10, st::group},
        {kIdStatic, text, L"Сертификат:", 19, 48, 50, 8, 0},
        {5110, ControlKind::comboBox, L"", 72, 46, 120, 14, 0},
        {5082, button, L"Обзор...", 196, 46, 46, 14, 0},
        {5083, button, L"Создать...", 246, 46, 46, 14, 0},
        {kIdStatic, text, L"Пароль:", 19, 66, 50, 8, 0},
        {5084, edit, L"", 72, 64, 120, 14, st::password},
        {5085, check, L"Запомнить пароль для этого сеанса", 72, 82, 200, 10, 0},
        {5001, check, L"Метка времени", 72, 96, 200, 10, 0},
        {5080, radio, L"Подготовить промежуточный файл KITE (KITEI), который будет подписан позже", 7, 114,
         286, 10, 0},
        {5090, button, L"Справка", 7, 134, 50, 14, 0},
    };
    okCancel(c, 300, 134);
    return dialog(5010, L"Цифровая подпись", 300, 155, std::move(c));
}

DialogTemplate selfSignTemplate() {
    std::vector<ControlTemplate> c = {
        {kIdStatic, text, L"Имя издателя:", 7, 10, 80, 8, 0},
        {5092, edit, L"", 90, 7, 163, 14, 0},
        {kIdStatic, text, L"Подразделение:", 7, 28, 80, 8, 0},
        {5094, edit, L"", 90, 25, 163, 14, 0},
        {kIdStatic, text, L"Название организации:", 7, 46, 80, 8, 0},
        {5093, edit, L"", 90, 43, 163, 14, 0},
        {kIdStatic, text, L"Страна:", 7, 64, 80, 8, 0},
        {5095, edit, L"", 90, 61, 30, 14, 0},
        {kIdStatic, text, L"Тип:", 132, 64, 20, 8, 0},
        {5098, ControlKind::dropList, L"", 153, 61, 60, 14, 0},
        {kIdStatic, text, L"Пароль:", 7, 82, 80, 8, 0},
        {5096, edit, L"", 90, 79, 163, 14, st::password},
        {kIdStatic, text, L"Подтвердите пароль:", 7, 100, 80, 8, 0},
        {5097, edit, L"", 90, 97, 163, 14, st::password},
        {kIdStatic, text, L"Сохранить как:", 7, 118, 80, 8, 0},
        {5099, edit, L"", 90, 115, 113, 14, 0},
        {5100, button, L"Обзор...", 207, 115, 46, 14, 0},
        {5109, button, L"Справка", 7, 140, 50, 14, 0},
    };
    okCancel(c, 260, 140);
    return dialog(5011, L"Создание самозаверенного цифрового сертификата", 260, 161, std::move(c));
}

DialogTemplate timestampRetryTemplate() {
    std::vector<ControlTemplate> c = {
        {4101, text,
         L"Ошибка при подключении к серверу меток времени. Возможно, отсутствует подключение к сети или "
         L"возникли неполадки на сервере.",
         7, 7, 246, 26, 0},
        {4102, text,
         L"Если отключить метки времени, то приложение KITE не сможет быть установлено по истечении срока "
         L"действия цифрового сертификата.",
         7, 38, 246, 26, 0},
        {1, button, L"Повторить", 26, 72, 60, 14, st::defaultButton},
        {4103, button, L"Отключить метки времени", 90, 72, 110, 14, 0},
        {2, button, L"Отмена", 204, 72, 49, 14, 0},
    };
    return dialog(5027, L"Orvex Lumen TX4", 260, 93, std::move(c));
}

DialogTemplate infoAlertTemplate() {
    std::vector<ControlTemplate> c = {
        {5041, image, L"", 7, 7, 60, 60, 0},
        {5036, text, L"Разработка для KITE с использованием Lumen TX4", 74, 7, 239, 14, 0},
        {5037, text, L"Настройки приложения KITE доступны через меню \"Команды\".", 74, 26, 239, 18, 0},
        {5038, text, L"Команды \"Тестировать ролик\" и \"Отладка ролика\" запускают приложение в среде KITE.",
         74, 46, 239, 18, 0},
        {5039, text,
         L"Сведения о разработке для KITE можно получить в KITE по нажатию кнопки \"Справка\" в диалоговом "
         L"окне \"Настройки приложения и программы установки\" и",
         74, 66, 239, 26, 0},
        {5040, ControlKind::link, L"www.orvex.com/kite", 74, 93, 239, 10, 0},
        {5035, check, L"Больше не показывать", 7, 126, 120, 10, 0},
        {1, button, L"OK", 265, 142, 48, 14, st::defaultButton},
    };
    return dialog(2003, L"О разработке для Orvex KITE", 320, 163, std::move(c));
}

}  // namespace vireo
