#pragma once

#include <string>
#include <vector>

class QWidget;
class TIniFile;

// Keeps one window's placement and a list of its control properties in the settings file, in a
// section named after the window's class. The window calls the three hooks from its own events:
// the show hook before its own show handler, the close-query hook when it may close, the destroy
// hook from its destructor.
class TFormStorage {
public:
    // ownerClassName names the section ("TForm1"); a main window minimized at restore minimizes
    // the application instead.
    TFormStorage(QWidget& owner, std::string ownerClassName, std::vector<std::string> storedProps,
                 bool mainWindow);

    bool Active = true;
    // Set by the window's creation handler before anything is read or written.
    std::string IniFileName;
    // Empty: the owner's class name.
    std::string IniSection;
    // Written as "FormVersion"; a stored number below it skips the restore.
    int Version = 0;
    // "Control.Property" entries, processed in this order. Both names are looked up without
    // regard to case, the control by object name among the window's children, the property
    // through the meta-object system; it is stored as "Control_Property", spelled as the
    // control and its property spell themselves (a property "text" as "Text").
    std::vector<std::string> StoredProps;

    bool Restored() const { return restored_; }
    bool Saved() const { return saved_; }

    // Reads the placement and the stored properties back. An error restoring one property is
    // ignored; any other error is raised.
    void RestoreSettings();
    // Writes the placement and the stored properties, only once a restore has run (or while
    // inactive): a window never shown in this run leaves its section alone. Raises
    // EIniFileException when the file cannot be written; what was written before stays.
    void SaveSettings();

    // The stored properties alone, without the placement and without counting as a restore, so
    // that a window not shown yet can hand its stored values to another (the proxy dialog's host
    // and port to the HTTP client at start-up).
    void RestoreStoredProperties();

    // Hooks. Errors are shown in the error box and never stop the window's own handling.
    void ShowHook();
    void CloseQueryHook(bool canClose);
    void DestroyHook();

private:
    struct Property;

    std::string Section() const;
    void ApplyPlacement(const TIniFile& ini);
    void WritePlacement(TIniFile& ini);
    void RestoreProperties(const TIniFile& ini);
    bool FindProperty(const std::string& entry, Property& found) const;

    QWidget& owner_;
    std::string ownerClassName_;
    bool mainWindow_;
    bool restored_ = false;
    bool saved_ = false;
    bool destroying_ = false;
};
