#include "platform/settings/RegFun.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <limits>
#include <string_view>

#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"

namespace fotolane {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Whether the text is one decimal number from end to end, blanks aside:
// an optional sign, digits, an optional fraction ("12", " -3 ", "2.5", ".5").
bool IsWholeNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
            digits = true;
        }
    }
    while (i < text.size() && IsBlank(text[i])) ++i;
    return digits && i == text.size();
}

QString SettingsKey(std::int32_t root, const std::string& keyPath, const std::string& valueName) {
    // QSettings separates the levels of a key by "/" and writes them into
    // the INI file with "\", as the registry spells key paths.
    QString path = QString::fromStdString(keyPath);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QString::fromStdString(RootKeyName(root)) + QLatin1Char('/') + path + QLatin1Char('/') +
           QString::fromStdString(valueName);
}

QVariant ToVariant(const SettingValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return QString::fromStdString(*text);
    }
    if (const auto* integer = std::get_if<std::int16_t>(&value)) return int{*integer};
    return int{std::get<std::int32_t>(value)};
}

}  // namespace

std::string SettingText(const SettingValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* integer = std::get_if<std::int16_t>(&value)) return std::to_string(*integer);
    return std::to_string(std::get<std::int32_t>(value));
}

std::int32_t SettingLong(const SettingValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (!IsWholeNumber(*text)) throw Fault("Type mismatch");
        return ReadNumber(*text);
    }
    if (const auto* integer = std::get_if<std::int16_t>(&value)) return *integer;
    return std::get<std::int32_t>(value);
}

std::int16_t SettingInteger(const SettingValue& value) {
    const std::int32_t number = SettingLong(value);
    if (number < std::numeric_limits<std::int16_t>::min() ||
        number > std::numeric_limits<std::int16_t>::max()) {
        throw Fault::Overflow();
    }
    return static_cast<std::int16_t>(number);
}

std::string RootKeyName(std::int32_t root) {
    switch (static_cast<std::uint32_t>(root)) {
        case 0x80000000u:
            return "HKEY_CLASSES_ROOT";
        case 0x80000001u:
            return "HKEY_CURRENT_USER";
        case 0x80000002u:
            return "HKEY_LOCAL_MACHINE";
        case 0x80000003u:
            return "HKEY_USERS";
        case 0x80000004u:
            return "HKEY_PERFORMANCE_DATA";
        case 0x80000005u:
            return "HKEY_CURRENT_CONFIG";
        case 0x80000006u:
            return "HKEY_DYN_DATA";
        default:
            throw Fault("Invalid root key: " + std::to_string(root));
    }
}

struct RegFun::File {
    explicit File(const QString& path) : path(path) {
        // The bytes as found, for setting a damaged file aside as it was: by
        // the time Qt notices the damage it may have rewritten the file.
        QFile found(path);
        if (found.open(QIODevice::ReadOnly)) original = found.readAll();
        Open();
    }

    void Open() { settings = std::make_unique<QSettings>(path, QSettings::IniFormat); }

    bool IsDamaged() const { return settings->status() == QSettings::FormatError; }

    // Qt keeps the format error of a file it read for the life of the
    // settings object, where it would hide the failure of a later write; and
    // what it parsed of a damaged file may not read back cleanly once
    // written. So the damaged file goes aside as it was found, and what
    // could be parsed of it is written anew, less the keys without a name.
    void SetAside() {
        QMap<QString, QVariant> parsed;
        for (const QString& key : settings->allKeys()) {
            if (!key.isEmpty() && !key.endsWith(QLatin1Char('/'))) {
                parsed.insert(key, settings->value(key));
            }
        }
        settings.reset();
        QFile aside(path + QStringLiteral(".damaged"));
        if (aside.open(QIODevice::WriteOnly | QIODevice::Truncate)) aside.write(original);
        QFile::remove(path);
        Open();
        for (auto entry = parsed.cbegin(); entry != parsed.cend(); ++entry) {
            settings->setValue(entry.key(), entry.value());
        }
        settings->sync();
    }

    QString path;
    QByteArray original;
    std::unique_ptr<QSettings> settings;
};

RegFun::RegFun() : RegFun(DefaultFilePath()) {}

RegFun::RegFun(const std::string& filePath)
    : filePath_(filePath), file_(std::make_unique<File>(QString::fromStdString(filePath))) {}

RegFun::~RegFun() = default;

SettingValue RegFun::ReadValue(std::int32_t root, const std::string& keyPath,
                               const std::string& valueName, const SettingValue& defaultValue) {
    const QString key = SettingsKey(root, keyPath, valueName);
    if (file_->settings->status() == QSettings::AccessError) {
        throw Fault("Cannot read the settings file", filePath_);
    }
    const QVariant stored = file_->settings->value(key);
    if (!stored.isValid()) return defaultValue;
    // A text with a comma in it, written by hand, reads back as a list.
    if (stored.typeId() == QMetaType::QStringList) {
        return stored.toStringList().join(QLatin1Char(',')).toStdString();
    }
    if (!stored.canConvert<QString>()) throw Fault("Type mismatch");
    return stored.toString().toStdString();
}

void RegFun::WriteValue(std::int32_t root, const std::string& keyPath, const std::string& valueName,
                        const SettingValue& value) {
    const QString key = SettingsKey(root, keyPath, valueName);
    // Sync reads the file anew where it changed since Qt's cache of it.
    file_->settings->sync();
    if (file_->IsDamaged()) file_->SetAside();
    file_->settings->setValue(key, ToVariant(value));
    file_->settings->sync();
    if (file_->IsDamaged()) file_->SetAside();
    if (file_->settings->status() != QSettings::NoError) {
        throw Fault("Cannot write the settings file", filePath_);
    }
}

std::string RegFun::DefaultFilePath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(folder).filePath(QStringLiteral("Quarvell/Fotolane.ini")).toStdString();
}

std::unique_ptr<ISettingsObject> CreateObject(const std::string& progId) {
    if (progId == kRegFunProgId) return std::make_unique<RegFun>();
    throw Fault("ActiveX component can't create object", progId);
}

}  // namespace fotolane
