#include "platform/settings/RegFun.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>
#include <atomic>
#include <limits>
#include <span>
#include <string_view>

#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/WholeFile.h"

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

// Numbers are stored as their digits, as they read back. Text that is not
// UTF-8 is stored as bytes, which Qt keeps exactly.
QVariant ToVariant(const SettingValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        const QString decoded = QString::fromStdString(*text);
        if (decoded.toStdString() == *text) return decoded;
        return QByteArray(text->data(), static_cast<qsizetype>(text->size()));
    }
    return QString::fromStdString(SettingText(value));
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

namespace {

using SettingsMap = QMap<QString, QVariant>;

// A file's settings as Qt parses them, less the keys without a name.
struct Parsed {
    SettingsMap values;
    QSettings::Status status = QSettings::NoError;
};

// A file of a name that this process never used before, removed when
// dropped: in the temporary folder, else beside the settings file. Qt keeps
// what it read of a file under the file's name and trusts it while size and
// time look the same, which two writes in one millisecond can fool; through
// a fresh name Qt always reads and writes the disk.
class ScratchFile {
  public:
    explicit ScratchFile(const std::string& settingsFile) {
        static std::atomic<unsigned> counter = 0;
        const QString name = QStringLiteral(".fotolane-settings-%1-%2-XXXXXX.ini")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(++counter);
        const QString settingsFolder =
            QFileInfo(QString::fromStdString(settingsFile)).absolutePath();
        for (const QString& folder : {QDir::tempPath(), settingsFolder}) {
            file_.setFileTemplate(QDir(folder).filePath(name));
            if (file_.open()) {
                file_.close();  // the name stays reserved until the object goes
                return;
            }
        }
        throw Fault("Cannot write the settings file", settingsFile);
    }
    QString Path() const { return file_.fileName(); }

  private:
    QTemporaryFile file_;
};

Parsed Parse(const QByteArray& bytes, const std::string& settingsFile) {
    ScratchFile scratch(settingsFile);
    QFile file(scratch.Path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        throw Fault("Cannot write the settings file", settingsFile);
    }
    file.close();
    QSettings settings(scratch.Path(), QSettings::IniFormat);
    Parsed parsed;
    for (const QString& key : settings.allKeys()) {
        if (!key.isEmpty() && !key.endsWith(QLatin1Char('/'))) {
            parsed.values.insert(key, settings.value(key));
        }
    }
    // Qt parses a section when it is first read: only then is damage known.
    parsed.status = settings.status();
    return parsed;
}

// The settings in Qt's INI format.
QByteArray Serialize(const SettingsMap& values, const std::string& settingsFile) {
    ScratchFile scratch(settingsFile);
    {
        QSettings settings(scratch.Path(), QSettings::IniFormat);
        for (auto entry = values.cbegin(); entry != values.cend(); ++entry) {
            settings.setValue(entry.key(), entry.value());
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            throw Fault("Cannot write the settings file", settingsFile);
        }
    }
    QFile file(scratch.Path());
    if (!file.open(QIODevice::ReadOnly))
        throw Fault("Cannot write the settings file", settingsFile);
    return file.readAll();
}

bool SameSettings(const SettingsMap& read, const SettingsMap& meant) {
    if (read.keys() != meant.keys()) return false;
    for (auto entry = meant.cbegin(); entry != meant.cend(); ++entry) {
        const QVariant& value = read[entry.key()];
        if (value != entry.value() && value.toString() != entry.value().toString()) return false;
    }
    return true;
}

}  // namespace

struct RegFun::File {
    explicit File(std::string path) : path(std::move(path)) {
        try {
            Load();
        } catch (const Fault&) {
            current.status = QSettings::AccessError;
        }
    }

    // Reads the file as it is on the disk now; a missing file holds nothing.
    void Load() {
        found.clear();
        current = Parsed{};
        const QString name = QString::fromStdString(path);
        if (!QFileInfo::exists(name)) return;
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly) || QFileInfo(name).isDir()) {
            current.status = QSettings::AccessError;
            return;
        }
        found = file.readAll();
        current = Parse(found, path);
    }

    // A damaged file goes aside as it was found; what could be parsed of it
    // is written anew with the next value.
    void SetAsideIfDamaged() const {
        if (current.status != QSettings::FormatError) return;
        QFile aside(QString::fromStdString(path) + QStringLiteral(".damaged"));
        if (aside.open(QIODevice::WriteOnly | QIODevice::Truncate)) aside.write(found);
    }

    // The new content is made by Qt in a scratch file, read back there to
    // see that it holds every value whole (a disk that fills up part-way
    // leaves a short file that Qt does not notice), and only then replaces
    // the file whole: on any failure the earlier file stays as it was.
    void Store(const SettingsMap& values) {
        const QByteArray bytes = Serialize(values, path);
        if (!SameSettings(Parse(bytes, path).values, values)) {
            throw Fault("Cannot write the settings file", path);
        }
        const QFileInfo info(QString::fromStdString(path));
        QDir().mkpath(info.absolutePath());
        RemoveLeftoverTemporaries(info.absolutePath().toStdString(), info.fileName().toStdString());
        ReplaceFileWhole(path, std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                         static_cast<std::size_t>(bytes.size())));
        current = Parsed{values, QSettings::NoError};
    }

    std::string path;
    QByteArray found;
    Parsed current;
};

RegFun::RegFun() : RegFun(DefaultFilePath()) {}

RegFun::RegFun(const std::string& filePath)
    : filePath_(filePath), file_(std::make_unique<File>(filePath)) {}

RegFun::~RegFun() = default;

SettingValue RegFun::ReadValue(std::int32_t root, const std::string& keyPath,
                               const std::string& valueName, const SettingValue& defaultValue) {
    const QString key = SettingsKey(root, keyPath, valueName);
    if (file_->current.status == QSettings::AccessError) {
        throw Fault("Cannot read the settings file", filePath_);
    }
    const QVariant stored = file_->current.values.value(key);
    if (!stored.isValid()) return defaultValue;
    // A text with a comma in it, written by hand, reads back as a list.
    if (stored.typeId() == QMetaType::QStringList) {
        return stored.toStringList().join(QLatin1Char(',')).toStdString();
    }
    // Text that is not UTF-8 (a folder's name as the file system has it) is
    // kept as bytes.
    if (stored.typeId() == QMetaType::QByteArray) return stored.toByteArray().toStdString();
    if (!stored.canConvert<QString>()) throw Fault("Type mismatch");
    return stored.toString().toStdString();
}

void RegFun::WriteValue(std::int32_t root, const std::string& keyPath, const std::string& valueName,
                        const SettingValue& value) {
    const QString key = SettingsKey(root, keyPath, valueName);
    try {
        // Anew from the disk: another program may have written meanwhile.
        file_->Load();
        if (file_->current.status == QSettings::AccessError) {
            throw Fault("Cannot write the settings file", filePath_);
        }
        file_->SetAsideIfDamaged();
        SettingsMap values = file_->current.values;
        values.insert(key, ToVariant(value));
        file_->Store(values);
    } catch (const Fault&) {
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
