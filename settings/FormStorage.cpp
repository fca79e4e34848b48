#include "settings/FormStorage.h"

#include "platform/Exceptions.h"
#include "platform/PrivateProfile.h"
#include "settings/IniFile.h"
#include "settings/WindowPlacement.h"
#include "ui/Guard.h"
#include "ui/Text.h"

#include <QMetaProperty>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>
#include <utility>

namespace {

std::string TrimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return std::string(text);
}

// The reader takes one pair of enclosing quotes off, so a text that has a pair of its own gets
// one more to come back unchanged.
std::string Quoted(const std::string& text) {
    if (!text.empty() && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front())
        return '"' + text + '"';
    return text;
}

// Words separated by commas or blanks; runs of separators count as one.
std::array<std::optional<int>, 4> FourWords(std::string_view text) {
    std::array<std::optional<int>, 4> words;
    size_t at = 0;
    for (auto& word : words) {
        const auto separator = [](char c) { return c == ',' || c == ' '; };
        while (at < text.size() && separator(text[at]))
            ++at;
        const size_t begin = at;
        while (at < text.size() && !separator(text[at]))
            ++at;
        if (at > begin)
            word = TryStrToInt(std::string(text.substr(begin, at - begin)));
    }
    return words;
}

std::string FourNumbers(int a, int b, int c, int d) {
    return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," +
           std::to_string(d);
}

std::string ScreenSuffix(const QWidget& window) {
    const QSize screen = ScreenSize(window);
    return "(" + std::to_string(screen.width()) + "x" + std::to_string(screen.height()) + ")";
}

// The position stored for the current screen size, else the one of the most recent save.
std::string ReadPosition(const TIniFile& ini, const std::string& section, const std::string& key,
                         const std::string& screenSuffix) {
    std::string text = ini.ReadString(section, key + screenSuffix, std::string());
    if (text.empty())
        text = ini.ReadString(section, key, std::string());
    return text;
}

} // namespace

struct TFormStorage::Property {
    enum class Kind { Text, Boolean, Integer };
    QObject* control = nullptr;
    QMetaProperty meta;
    Kind kind = Kind::Text;
    std::string key;

    // The value as written to the file, before the quoting rule.
    std::string Text() const {
        const QVariant value = meta.read(control);
        switch (kind) {
        case Kind::Boolean:
            return value.toBool() ? "True" : "False";
        case Kind::Integer:
            return std::to_string(value.toInt());
        case Kind::Text:
            break;
        }
        return platform::TrimControls(value.toString().toStdString());
    }

    // Through the control's own setter, with its usual effects (a radio button checked unchecks
    // its siblings and runs its click handler; the spin edit keeps to its range).
    void Assign(const std::string& text) const {
        switch (kind) {
        case Kind::Text:
            meta.write(control, ui::TextFromBytes(text));
            break;
        case Kind::Boolean:
            if (platform::SameTextIgnoringCase(text, "False"))
                meta.write(control, false);
            else if (platform::SameTextIgnoringCase(text, "True"))
                meta.write(control, true);
            break;
        case Kind::Integer:
            meta.write(control, TryStrToInt(text).value_or(0));
            break;
        }
    }
};

TFormStorage::TFormStorage(QWidget& owner, std::string ownerClassName,
                           std::vector<std::string> storedProps, bool mainWindow)
    : StoredProps(std::move(storedProps)), owner_(owner),
      ownerClassName_(std::move(ownerClassName)), mainWindow_(mainWindow) {}

std::string TFormStorage::Section() const {
    return IniSection.empty() ? ownerClassName_ : IniSection;
}

bool TFormStorage::FindProperty(const std::string& entry, Property& found) const {
    const size_t dot = entry.find('.');
    if (dot == std::string::npos)
        return false;
    const std::string controlName = TrimBlanks(std::string_view(entry).substr(0, dot));
    const std::string propertyName = TrimBlanks(std::string_view(entry).substr(dot + 1));
    if (controlName.empty() || propertyName.empty())
        return false;

    for (QObject* child : owner_.findChildren<QObject*>()) {
        if (!platform::SameTextIgnoringCase(child->objectName().toStdString(), controlName))
            continue;
        const QMetaObject* meta = child->metaObject();
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const std::string name = meta->property(i).name();
            if (!platform::SameTextIgnoringCase(name, propertyName))
                continue;
            // The most derived declaration, whose setter the control means to be used.
            found.meta = meta->property(meta->indexOfProperty(name.c_str()));
            switch (found.meta.typeId()) {
            case QMetaType::QString:
                found.kind = Property::Kind::Text;
                break;
            case QMetaType::Bool:
                found.kind = Property::Kind::Boolean;
                break;
            case QMetaType::Int:
                found.kind = Property::Kind::Integer;
                break;
            default:
                return false;
            }
            if (!found.meta.isReadable() || !found.meta.isWritable())
                return false;
            found.control = child;
            // Qt spells its properties in lower camel case; the file spells them as stored
            // names always were, with a capital: "Edit1_Text".
            std::string spelled = name;
            spelled[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(spelled[0])));
            found.key = child->objectName().toStdString() + "_" + spelled;
            return true;
        }
        return false;
    }
    return false;
}

void TFormStorage::RestoreSettings() {
    saved_ = false;
    const TIniFile ini(IniFileName);
    if (ini.ReadInteger(Section(), "FormVersion", 0) >= Version) {
        ApplyPlacement(ini);
        RestoreProperties(ini);
    }
    restored_ = true;
    // The window cannot be resized, so a maximized window would cover the screen only with its
    // frame pushed just off it.
    SetMaximizedPosition(owner_, -FrameBorder(owner_));
}

void TFormStorage::RestoreStoredProperties() {
    const TIniFile ini(IniFileName);
    if (ini.ReadInteger(Section(), "FormVersion", 0) >= Version)
        RestoreProperties(ini);
}

void TFormStorage::RestoreProperties(const TIniFile& ini) {
    const std::string section = Section();
    for (const std::string& entry : StoredProps) {
        Property property;
        if (!FindProperty(entry, property))
            continue;
        // One bad entry must not cost the user the others.
        try {
            property.Assign(
                platform::TrimControls(ini.ReadString(section, property.key, property.Text())));
        } catch (...) {
        }
    }
}

void TFormStorage::ApplyPlacement(const TIniFile& ini) {
    const std::string section = Section();
    const std::string suffix = ScreenSuffix(owner_);
    TWindowPlacement placement = GetWindowPlacement(owner_);
    placement.flags = ini.ReadInteger(section, "Flags", placement.flags);

    bool positionFound = false;
    if (const std::string text = ReadPosition(ini, section, "MinMaxPos", suffix); !text.empty()) {
        const auto words = FourWords(text);
        placement.minPosition = QPoint(words[0].value_or(0), words[1].value_or(0));
        placement.maxPosition = QPoint(words[2].value_or(0), words[3].value_or(0));
        positionFound = true;
    }
    if (const std::string text = ReadPosition(ini, section, "NormPos", suffix); !text.empty()) {
        const auto words = FourWords(text);
        placement.left = words[0].value_or(placement.left);
        placement.top = words[1].value_or(placement.top);
        placement.right = words[2].value_or(placement.right);
        placement.bottom = words[3].value_or(placement.bottom);
        positionFound = true;
    }

    // A position saved at another pixel density would put the window somewhere else.
    const int pixelsPerInch = ScreenPixelsPerInch(owner_);
    if (positionFound &&
        ini.ReadInteger(section, "PixelsPerInch", pixelsPerInch) == pixelsPerInch) {
        // The window cannot be resized: only the stored corner counts.
        const QSize size = owner_.frameGeometry().size();
        placement.right = placement.left + size.width();
        placement.bottom = placement.top + size.height();
        if (placement.right > placement.left)
            SetWindowPlacement(owner_, placement);
    }

    const Qt::WindowStates normal =
        owner_.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    switch (ini.ReadInteger(section, "ShowCmd", 0)) {
    case 2:
    case 6:
    case 7:
        if (mainWindow_) {
            // The application is minimized once it is up, not the window while it is shown.
            owner_.setWindowState(normal);
            QWidget* window = &owner_;
            QTimer::singleShot(0, window, [window] {
                window->setWindowState(window->windowState() | Qt::WindowMinimized);
            });
            return;
        }
        owner_.setWindowState(normal | Qt::WindowMinimized);
        break;
    case 3:
        owner_.setWindowState(normal | Qt::WindowMaximized);
        break;
    default:
        owner_.setWindowState(normal);
        break;
    }
}

void TFormStorage::SaveSettings() {
    if (!restored_ && Active)
        return;
    TIniFile ini(IniFileName);
    const std::string section = Section();
    ini.WriteInteger(section, "FormVersion", Version);
    WritePlacement(ini);
    for (const std::string& entry : StoredProps) {
        Property property;
        if (FindProperty(entry, property))
            ini.WriteString(section, property.key, Quoted(property.Text()));
    }
    saved_ = true;
}

void TFormStorage::WritePlacement(TIniFile& ini) {
    const std::string section = Section();
    const std::string suffix = ScreenSuffix(owner_);
    const TWindowPlacement placement = GetWindowPlacement(owner_);
    ini.WriteInteger(section, "Flags", placement.flags);
    ini.WriteInteger(section, "ShowCmd", placement.showCmd);
    ini.WriteInteger(section, "PixelsPerInch", ScreenPixelsPerInch(owner_));
    const std::string minMax =
        Quoted(FourNumbers(placement.minPosition.x(), placement.minPosition.y(),
                           placement.maxPosition.x(), placement.maxPosition.y()));
    ini.WriteString(section, "MinMaxPos" + suffix, minMax);
    ini.WriteString(section, "MinMaxPos", minMax);
    const std::string normal =
        Quoted(FourNumbers(placement.left, placement.top, placement.right, placement.bottom));
    ini.WriteString(section, "NormPos" + suffix, normal);
    ini.WriteString(section, "NormPos", normal);
    ini.WriteBool(section, "Visible", destroying_);
}

void TFormStorage::ShowHook() {
    if (Active)
        ui::Guarded([this] { RestoreSettings(); });
}

void TFormStorage::CloseQueryHook(bool canClose) {
    // A window that never reached the screen has no placement to keep.
    if (canClose && Active && owner_.windowHandle() != nullptr)
        ui::Guarded([this] { SaveSettings(); });
}

void TFormStorage::DestroyHook() {
    if (!Active || saved_)
        return;
    destroying_ = true;
    ui::Guarded([this] { SaveSettings(); });
    destroying_ = false;
}
