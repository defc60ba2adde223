#include "shell/formstorage.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace shell {
namespace {

const std::vector<std::string> AlignIdentifiers = {"alNone", "alTop",   "alBottom",
                                                   "alLeft", "alRight", "alClient"};

StoredProperty prop(const char* component, const char* property, PropKind kind,
                    std::vector<std::string> identifiers = {}) {
    return StoredProperty{component, property, kind, std::move(identifiers)};
}

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return low(x) == low(y);
           });
}

} // namespace

std::array<int, 4> clampToScreen(const std::array<long long, 4>& v) {
    std::array<int, 4> out{};
    for (std::size_t i = 0; i < 4; ++i)
        out[i] = static_cast<int>(std::clamp<long long>(v[i], MinScreenCoordinate, MaxScreenCoordinate));
    return out;
}

int storedListLength(int count, std::size_t keysInSection) {
    if (count <= 0) return 0;
    const long long bound = static_cast<long long>(keysInSection) + MaxMissingListItems;
    return static_cast<int>(std::min<long long>(count, bound));
}

std::string formatFour(const std::array<int, 4>& v) {
    return std::to_string(v[0]) + "," + std::to_string(v[1]) + "," + std::to_string(v[2]) + "," +
           std::to_string(v[3]);
}

bool parseFour(const std::string& text, std::array<int, 4>& out) {
    std::array<int, 4> v{};
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 3) != (comma != std::string::npos)) return false;
        const std::string field =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        // A value that is not a number is told apart by reading it with two defaults.
        const int a = platform::parseProfileInt(field, 0), b = platform::parseProfileInt(field, 1);
        if (a != b) return false;
        v[static_cast<std::size_t>(i)] = a;
        start = comma + 1;
    }
    out = v;
    return true;
}

const FormStorageLayout& MainWindowLayout() {
    static const FormStorageLayout layout{
        "items",
        {prop("SpeedBar1", "Align", PropKind::Enumeration, AlignIdentifiers),
         prop("updateIP", "Caption", PropKind::Text), prop("updatefile", "Caption", PropKind::Text),
         prop("List", "Items", PropKind::Unstored), prop("stats_bad", "Items", PropKind::Strings),
         prop("stats_good", "Items", PropKind::Strings), prop("stats_ip", "Items", PropKind::Strings),
         prop("List", "Columns", PropKind::Unstored), prop("liststatus", "Columns", PropKind::Strings),
         prop("manualadd", "Items", PropKind::Strings), prop("ontop", "Checked", PropKind::Boolean)},
        PlacementKind::PositionOnly,
        true};
    return layout;
}

const FormStorageLayout& SettingsWindowLayout() {
    static const FormStorageLayout layout{
        "cfg",
        {prop("checkupdate", "Checked", PropKind::Boolean), prop("usecute", "Checked", PropKind::Boolean),
         prop("Guideshow", "Checked", PropKind::Boolean), prop("dfatime", "Position", PropKind::Integer),
         prop("ontop", "Checked", PropKind::Boolean)},
        PlacementKind::PositionAndState,
        false};
    return layout;
}

const FormStorageLayout& LogWindowLayout() {
    static const FormStorageLayout layout{
        "log", {prop("dllog", "Items", PropKind::Strings)}, PlacementKind::PositionAndState, true};
    return layout;
}

std::string propertyKey(const std::string& component, const std::string& property) {
    return component + "_" + property;
}

std::string listSection(const std::string& section, const std::string& key) {
    return section + "." + key;
}

bool readStoredList(const platform::TIniFile& ini, const std::string& section, platform::StringList& out) {
    const int count = storedListLength(ini.ReadInteger(section, "Count", 0), ini.KeyCount(section));
    if (count <= 0) return false;
    platform::StringList items;
    items.reserve(static_cast<std::size_t>(count));
    std::string key = "Item";
    const std::string none;
    for (int i = 0; i < count; ++i) {
        char digits[16];
        key.replace(4, std::string::npos, digits,
                    std::to_chars(digits, digits + sizeof digits, i).ptr - digits);
        items.push_back(ini.ReadString(section, key, none));
    }
    out = std::move(items);
    return true;
}

void writeStoredList(platform::TIniFile& ini, const std::string& section, const platform::StringList& items) {
    platform::IniBatch batch(ini);
    ini.EraseSection(section);
    if (items.empty()) return;
    ini.WriteInteger(section, "Count", static_cast<int>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i)
        ini.WriteString(section, "Item" + std::to_string(i), items[i]);
}

FormStorage::FormStorage(const FormStorageLayout& layout, std::string fileName)
    : layout_(layout), fileName_(std::move(fileName)) {}

FormStorage::Binding& FormStorage::bindingFor(const std::string& name, PropKind kind) {
    const std::size_t dot = name.find('.');
    const std::string component = name.substr(0, dot);
    const std::string property = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (const StoredProperty& p : layout_.properties) {
        if (p.component != component || p.property != property) continue;
        if (p.kind != kind) throw std::logic_error("stored property " + name + " bound with the wrong kind");
        for (Binding& b : bindings_)
            if (b.prop == &p) return b;
        bindings_.push_back(Binding{&p, {}, {}, {}, {}});
        return bindings_.back();
    }
    throw std::logic_error("window section " + layout_.section + " stores no property " + name);
}

void FormStorage::bindInteger(const std::string& name, std::function<int()> get,
                              std::function<void(int)> set) {
    Binding& b = bindingFor(name, PropKind::Integer);
    b.getText = [get] { return std::to_string(get()); };
    b.setText = [get, set](const std::string& text) {
        set(platform::parseProfileInt(text, get()));
        return true;
    };
}

void FormStorage::bindBoolean(const std::string& name, std::function<bool()> get,
                              std::function<void(bool)> set) {
    Binding& b = bindingFor(name, PropKind::Boolean);
    b.getText = [get] { return std::string(get() ? "True" : "False"); };
    b.setText = [set](const std::string& text) {
        if (sameText(text, "True"))
            set(true);
        else if (sameText(text, "False"))
            set(false);
        else
            return false;
        return true;
    };
}

void FormStorage::bindEnumeration(const std::string& name, std::function<std::string()> get,
                                  std::function<void(const std::string&)> set) {
    Binding& b = bindingFor(name, PropKind::Enumeration);
    const StoredProperty* p = b.prop;
    b.getText = std::move(get);
    b.setText = [p, set](const std::string& text) {
        for (const std::string& id : p->identifiers)
            if (sameText(id, text)) {
                set(id);
                return true;
            }
        return false;
    };
}

void FormStorage::bindText(const std::string& name, std::function<std::string()> get,
                           std::function<void(const std::string&)> set) {
    Binding& b = bindingFor(name, PropKind::Text);
    b.getText = std::move(get);
    b.setText = [set](const std::string& text) {
        set(text);
        return true;
    };
}

void FormStorage::bindStrings(const std::string& name, std::function<platform::StringList()> get,
                              std::function<void(platform::StringList)> set) {
    Binding& b = bindingFor(name, PropKind::Strings);
    b.getList = std::move(get);
    b.setList = std::move(set);
}

void FormStorage::bindStrings(const std::string& name, platform::StringList& list) {
    bindStrings(
        name, [&list] { return list; }, [&list](platform::StringList v) { list = std::move(v); });
}

void FormStorage::bindPlacement(std::function<WindowPlacement()> get,
                                std::function<void(const WindowPlacement&)> set) {
    getPlacement_ = std::move(get);
    setPlacement_ = std::move(set);
}

void FormStorage::bindPlacement(WindowPlacement& placement) {
    bindPlacement([&placement] { return placement; },
                  [&placement](const WindowPlacement& p) { placement = p; });
}

void FormStorage::Restore() {
    const platform::TIniFile ini(fileName_);
    for (const Binding& b : bindings_) {
        const std::string key = propertyKey(b.prop->component, b.prop->property);
        if (b.prop->kind == PropKind::Strings) {
            platform::StringList items;
            if (b.setList && readStoredList(ini, listSection(layout_.section, key), items))
                b.setList(std::move(items));
        } else if (b.setText && ini.ValueExists(layout_.section, key)) {
            b.setText(ini.ReadString(layout_.section, key, ""));
        }
    }
    restorePlacement(ini);
    restored_ = true;
    saved_ = false;
    if (OnRestored) OnRestored();
}

void FormStorage::restorePlacement(const platform::TIniFile& ini) {
    if (!getPlacement_ || !setPlacement_) return;
    const std::string& s = layout_.section;
    WindowPlacement p = getPlacement_();
    const WindowPlacement before = p;
    if (ini.ValueExists(s, "Flags")) p.Flags = ini.ReadInteger(s, "Flags", p.Flags);
    if (layout_.placement == PlacementKind::PositionAndState && ini.ValueExists(s, "ShowCmd")) {
        const int cmd = ini.ReadInteger(s, "ShowCmd", p.ShowCmd);
        if (cmd >= 1 && cmd <= 3) p.ShowCmd = cmd;
    }
    std::array<int, 4> four{};
    if (parseFour(ini.ReadString(s, "MinMaxPos", ""), four))
        p.MinMaxPos = clampToScreen({four[0], four[1], four[2], four[3]});
    if (parseFour(ini.ReadString(s, "NormPos", ""), four)) {
        if (layout_.resizable) {
            p.NormPos = clampToScreen({four[0], four[1], four[2], four[3]});
        } else { // moved, not resized: the window keeps its size wherever it is held
            const long long w = static_cast<long long>(p.NormPos[2]) - p.NormPos[0];
            const long long h = static_cast<long long>(p.NormPos[3]) - p.NormPos[1];
            auto start = [](long long at, long long extent) {
                const long long last = std::max<long long>(MinScreenCoordinate, MaxScreenCoordinate - extent);
                return std::clamp<long long>(at, MinScreenCoordinate, last);
            };
            const long long left = start(four[0], w), top = start(four[1], h);
            p.NormPos = clampToScreen({left, top, left + w, top + h});
        }
    }
    if (!(p == before)) setPlacement_(p);
}

void FormStorage::savePlacement(platform::TIniFile& ini) {
    if (!getPlacement_) return;
    const WindowPlacement p = getPlacement_();
    const std::string& s = layout_.section;
    ini.WriteInteger(s, "Flags", p.Flags);
    ini.WriteInteger(s, "ShowCmd", p.ShowCmd);
    ini.WriteString(s, "MinMaxPos", formatFour(p.MinMaxPos));
    ini.WriteString(s, "NormPos", formatFour(p.NormPos));
}

void FormStorage::Save() {
    platform::TIniFile ini(fileName_);
    Save(ini);
}

void FormStorage::Save(platform::TIniFile& ini) {
    {
        platform::IniBatch batch(ini);
        savePlacement(ini);
        for (const Binding& b : bindings_) {
            const std::string key = propertyKey(b.prop->component, b.prop->property);
            if (b.prop->kind == PropKind::Strings) {
                if (b.getList) writeStoredList(ini, listSection(layout_.section, key), b.getList());
            } else if (b.getText) {
                ini.WriteString(layout_.section, key, b.getText());
            }
        }
    }
    saved_ = true;
}

void FormStorage::FormClose() {
    Save();
}

void FormStorage::FormDestroy() {
    if (restored_ && !saved_) Save();
}

void FormStorage::FormDestroy(platform::TIniFile& ini) {
    if (restored_ && !saved_) Save(ini);
}

} // namespace shell
