#pragma once
// The stored properties of a window: the options, lists and placement a
// window keeps in the settings file "wavbin" between runs.
//
// A window names a section and a list of properties ("component.property").
// A simple property lives in the window's section under "<component>_<property>"
// (integers as decimal text, truth values and other enumerations by their
// identifier, text unchanged). A list of strings lives in a section of its own,
// "<section>.<component>_<property>", with "Count" and "Item0", "Item1", ...
// The rows or columns of a list view store nothing. The placement goes under
// "Flags", "ShowCmd", "MinMaxPos" and "NormPos" in the window's section.
//
// Restore runs every time the window is shown; Save runs when a close goes
// ahead and at destruction unless the window was saved since its last restore
// (a window never shown is never saved).

#include "platform/listview.h"
#include "platform/profile.h"

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace shell {

// The file of the windows' stored properties (no extension).
inline constexpr const char* FormStorageFile = "wavbin";

// A stored list whose "Count" exceeds the items present reads the missing
// items as empty, but never more than this many beyond the keys the section
// really holds (a damaged count must not allocate without bound).
inline constexpr int MaxMissingListItems = 1024;

// The number of items to read for a stored count: 0 for a count of 0 or less,
// else the count bounded by the keys present plus MaxMissingListItems.
int storedListLength(int count, std::size_t keysInSection);

// Where a window stands and how it is shown.
struct WindowPlacement {
    int Flags = 0;
    int ShowCmd = 1;                              // 1 normal, 2 minimised, 3 maximised
    std::array<int, 4> MinMaxPos{-1, -1, -1, -1}; // minimised x, y; maximised x, y
    std::array<int, 4> NormPos{0, 0, 0, 0};       // normal rectangle: left, top, right, bottom
    bool operator==(const WindowPlacement&) const = default;
};

// Window coordinates a stored placement may hold (the range of screen
// coordinates of the display system); a damaged file's values are held to it.
inline constexpr int MinScreenCoordinate = -32768;
inline constexpr int MaxScreenCoordinate = 32767;
std::array<int, 4> clampToScreen(const std::array<long long, 4>& v);

// Four integers joined by commas, and back (false for anything else).
std::string formatFour(const std::array<int, 4>& v);
bool parseFour(const std::string& text, std::array<int, 4>& out);

enum class PlacementKind {
    PositionOnly,     // the normal rectangle only; the show state stays as it is
    PositionAndState, // the normal rectangle and the show state
};

enum class PropKind {
    Integer,     // decimal text
    Boolean,     // "True" / "False"
    Enumeration, // the value's identifier ("alTop")
    Text,        // unchanged
    Strings,     // a section of its own with Count and Item%d
    Unstored,    // rows or columns of a list view: nothing is stored
};

struct StoredProperty {
    std::string component;
    std::string property;
    PropKind kind;
    std::vector<std::string> identifiers; // the values an enumeration may take
};

struct FormStorageLayout {
    std::string section;
    std::vector<StoredProperty> properties; // in the order they are read and written
    PlacementKind placement;
    bool resizable; // false: restoring moves the window but keeps its size
};

// The three windows that keep properties.
const FormStorageLayout& MainWindowLayout();     // "items"
const FormStorageLayout& SettingsWindowLayout(); // "cfg"
const FormStorageLayout& LogWindowLayout();      // "log"

// "<component>_<property>" and the "%s.%s" section of a list property.
std::string propertyKey(const std::string& component, const std::string& property);
std::string listSection(const std::string& section, const std::string& key);

// A stored list: answers true and fills out when its "Count" is above 0.
bool readStoredList(const platform::TIniFile& ini, const std::string& section, platform::StringList& out);
// Erases the section, then writes "Count" and the items unless the list is empty.
void writeStoredList(platform::TIniFile& ini, const std::string& section, const platform::StringList& items);

class FormStorage {
public:
    explicit FormStorage(const FormStorageLayout& layout, std::string fileName = FormStorageFile);

    // Connect a property of the layout to the window's value. Binding a name the
    // layout does not hold is a programming error (std::logic_error). Unbound
    // properties are neither read nor written; their keys stay as they are.
    void bindInteger(const std::string& name, std::function<int()> get, std::function<void(int)> set);
    void bindBoolean(const std::string& name, std::function<bool()> get, std::function<void(bool)> set);
    void bindEnumeration(const std::string& name, std::function<std::string()> get,
                         std::function<void(const std::string&)> set);
    void bindText(const std::string& name, std::function<std::string()> get,
                  std::function<void(const std::string&)> set);
    void bindStrings(const std::string& name, std::function<platform::StringList()> get,
                     std::function<void(platform::StringList)> set);
    void bindStrings(const std::string& name, platform::StringList& list);
    void bindPlacement(std::function<WindowPlacement()> get, std::function<void(const WindowPlacement&)> set);
    void bindPlacement(WindowPlacement& placement);

    // Runs after every restore, once all properties are set.
    std::function<void()> OnRestored;

    // The window is being shown: read every bound property, then the placement.
    void Restore();
    // The window's close goes ahead: save.
    void FormClose();
    // The window is destroyed: save if it was restored and not saved since.
    void FormDestroy();
    // Write every bound property and the placement, as one write of the file.
    void Save();
    // The same into an open file (several windows saved in one write).
    void Save(platform::TIniFile& ini);
    // The window is destroyed: the same into an open file.
    void FormDestroy(platform::TIniFile& ini);

    bool Restored() const { return restored_; }
    bool SavedSinceRestore() const { return saved_; }
    const FormStorageLayout& Layout() const { return layout_; }
    const std::string& FileName() const { return fileName_; }

private:
    struct Binding {
        const StoredProperty* prop = nullptr;
        std::function<std::string()> getText;            // simple properties as stored text
        std::function<bool(const std::string&)> setText; // false: text not acceptable, value kept
        std::function<platform::StringList()> getList;
        std::function<void(platform::StringList)> setList;
    };
    Binding& bindingFor(const std::string& name, PropKind kind);
    void restorePlacement(const platform::TIniFile& ini);
    void savePlacement(platform::TIniFile& ini);

    const FormStorageLayout& layout_;
    std::string fileName_;
    std::vector<Binding> bindings_;
    std::function<WindowPlacement()> getPlacement_;
    std::function<void(const WindowPlacement&)> setPlacement_;
    bool restored_ = false;
    bool saved_ = false;
};

} // namespace shell
