#include "vireo/dialogs/advanced_settings_dialog.h"

#include <algorithm>
#include <cstring>

#include "platform/text/text.h"
#include "vireo/descriptor_state.h"
#include "vireo/dialogs/file_type_dialog.h"
#include "vireo/resources/dialog_templates.h"

namespace vireo {

namespace {

enum : int {
    idcAdd = 5117,
    idcRemove = 5118,
    idcEdit = 5119,
    idcTypes = 5121,
    idcWidth = 5123,
    idcHeight = 5124,
    idcX = 5125,
    idcY = 5126,
    idcMaxWidth = 5127,
    idcMaxHeight = 5128,
    idcMinWidth = 5129,
    idcMinHeight = 5130,
    idcMaximizable = 5131,
    idcMinimizable = 5132,
    idcResizable = 5133,
    idcVisible = 5134,
    idcInstallFolder = 5138,
    idcProgramMenu = 5139,
    idcCustomUpdate = 5140,
    idcHelp = 5141,
};

std::wstring elementText(const wchar_t* name, bool* found = nullptr) {
    std::wstring text;
    const bool there = readElementText(name, text) == 0;
    if (found) *found = there;
    return there ? text : std::wstring();
}

std::wstring line(const FileTypeRecord& r) {
    return fieldText(r.name, sizeof r.name) + L"(" + fieldText(r.extension, sizeof r.extension) + L")";
}

bool filled(const std::wstring& text) {
    return !trimmed(text).empty();
}

}  // namespace

CAdvancedSettingsDlg::CAdvancedSettingsDlg(SettingsStore& store)
    : VireoDialog(advancedSettingsTemplate()), store_(store) {
    dialog_.onInit([this] { open(); });
    dialog_.onCommand(idcResizable, [this] {
        for (int id : {idcMaxWidth, idcMaxHeight, idcMinWidth, idcMinHeight})
            dialog_.enable(id, dialog_.checked(idcResizable) != 0);
    });
    dialog_.onCommand(idcAdd, [this] { editType(-1); });
    dialog_.onCommand(idcEdit, [this] { editType(dialog_.selection(idcTypes)); });
    dialog_.onCommand(idcRemove, [this] {
        const int at = dialog_.selection(idcTypes);
        int shown = -1;
        for (auto& r : records_) {
            if (!r.present || ++shown != at) continue;
            r.present = 0;
            break;
        }
        showTypes();
    });
    dialog_.onCommand(idcHelp, [this] { openHelp(); });
    dialog_.onCommand(1, [this] { ok(); });
    dialog_.onCommand(2, [this] { dialog_.end(2); });
}

void CAdvancedSettingsDlg::open() {
    dialog_.setText(idcInstallFolder, elementText(L"installFolder"));
    dialog_.setText(idcProgramMenu, elementText(L"programMenuFolder"));
    const std::pair<const wchar_t*, int> numbers[] = {
        {L"width", idcWidth}, {L"height", idcHeight}, {L"x", idcX}, {L"y", idcY}};
    for (const auto& [name, id] : numbers) dialog_.setText(id, elementText(name));
    const std::pair<const wchar_t*, std::pair<int, int>> sizes[] = {
        {L"minSize", {idcMinWidth, idcMinHeight}}, {L"maxSize", {idcMaxWidth, idcMaxHeight}}};
    for (const auto& [name, ids] : sizes) {
        const std::wstring size = elementText(name);
        const auto blank = size.find(L' ');
        dialog_.setText(ids.first, size.substr(0, blank));
        dialog_.setText(ids.second,
                        blank == std::wstring::npos ? std::wstring() : trimmed(size.substr(blank + 1)));
    }
    const std::pair<const wchar_t*, int> flags[] = {{L"maximizable", idcMaximizable},
                                                    {L"minimizable", idcMinimizable},
                                                    {L"resizable", idcResizable},
                                                    {L"visible", idcVisible}};
    for (const auto& [name, id] : flags)
        dialog_.setCheck(id, win::toLower(elementText(name)) == L"false" ? 0 : 1);
    dialog_.setCheck(idcCustomUpdate, win::toLower(elementText(L"customUpdateUI")) == L"true" ? 1 : 0);
    for (int id : {idcMaxWidth, idcMaxHeight, idcMinWidth, idcMinHeight})
        dialog_.enable(id, dialog_.checked(idcResizable) != 0);

    records_.clear();
    std::vector<std::wstring> names;
    listFileTypeNames(names);
    for (const auto& name : names) {
        FileTypeRecord r;
        readFileType(name, r);
        setField(r.name, sizeof r.name, name);
        std::memcpy(r.previousName, r.name, sizeof r.name);
        r.present = 1;
        records_.push_back(r);
    }
    edited_.assign(records_.size(), false);
    showTypes();
}

void CAdvancedSettingsDlg::showTypes() {
    std::vector<std::wstring> lines;
    for (const auto& r : records_)
        if (r.present) lines.push_back(line(r));
    const bool any = !lines.empty();
    if (!any) lines.push_back(L"<" + resourceString(8052) + L">");
    dialog_.setItems(idcTypes, lines);
    dialog_.enable(idcRemove, any);
    dialog_.enable(idcEdit, any);
}

void CAdvancedSettingsDlg::editType(int index) {
    FileTypeRecord* existing = nullptr;
    int shown = -1;
    for (auto& r : records_)
        if (r.present && ++shown == index) existing = &r;
    if (index >= 0 && !existing) return;
    FileTypeRecord edited = existing ? *existing : FileTypeRecord{};
    CFileTypeDlg dialog(edited, store_.value(key::lmvFolder));
    if (dialog.doModal() != 1 || !edited.name[0] || !edited.extension[0]) return;
    if (!existing) {
        // A type of a name already listed replaces that line.
        for (auto& r : records_)
            if (r.present && std::strncmp(r.name, edited.name, sizeof r.name) == 0) existing = &r;
    }
    if (existing) {
        std::memcpy(edited.previousName, existing->previousName, sizeof edited.previousName);
        *existing = edited;
        edited_[static_cast<std::size_t>(existing - records_.data())] = true;
    } else {
        records_.push_back(edited);
        edited_.push_back(true);
    }
    showTypes();
}

void CAdvancedSettingsDlg::ok() {
    const bool minWidth = filled(dialog_.text(idcMinWidth)), minHeight = filled(dialog_.text(idcMinHeight));
    const bool maxWidth = filled(dialog_.text(idcMaxWidth)), maxHeight = filled(dialog_.text(idcMaxHeight));
    if (minWidth != minHeight) {
        message(8070);
        return;
    }
    if (maxWidth != maxHeight) {
        message(8069);
        return;
    }
    AdvancedSettings s;
    s.installFolder = dialog_.text(idcInstallFolder);
    s.programMenuFolder = dialog_.text(idcProgramMenu);
    s.width = dialog_.text(idcWidth);
    s.height = dialog_.text(idcHeight);
    s.x = dialog_.text(idcX);
    s.y = dialog_.text(idcY);
    s.minWidth = dialog_.text(idcMinWidth);
    s.minHeight = dialog_.text(idcMinHeight);
    s.maxWidth = dialog_.text(idcMaxWidth);
    s.maxHeight = dialog_.text(idcMaxHeight);
    s.maximizable = dialog_.checked(idcMaximizable) != 0;
    s.minimizable = dialog_.checked(idcMinimizable) != 0;
    s.resizable = dialog_.checked(idcResizable) != 0;
    s.visible = dialog_.checked(idcVisible) != 0;
    s.customUpdateUI = dialog_.checked(idcCustomUpdate) != 0;
    updateAdvancedSettings(s);
    store_.set(key::programMenu, s.programMenuFolder.substr(0, 256));

    std::vector<std::size_t> order(records_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        return std::strncmp(records_[a].name, records_[b].name, sizeof records_[a].name) < 0;
    });
    for (std::size_t i : order) {
        const FileTypeRecord& r = records_[i];
        if (r.present && edited_[i])
            updateFileType(r);
        else if (!r.present && r.previousName[0])
            removeFileType(fieldText(r.previousName, sizeof r.previousName));
    }
    dialog_.end(1);
}

}  // namespace vireo
