#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTest>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/frmGetHTML.h"
#include "platform/core/Fault.h"
#include "platform/settings/RegFun.h"
#include "tests/TempFolder.h"

// Stand-ins for the window's parts, so that a test sees every message box,
// every call into the settings store and every thumbnail asked for.
namespace fotolane::testing {

// Every message the window shows, in order. The box counts as closed at once.
struct MessageLog {
    std::vector<app::Message> messages;
    app::MessagePresenter Presenter() {
        return [this](QWidget&, const app::Message& message) { messages.push_back(message); };
    }
    std::string Texts() const {
        std::string all;
        for (const auto& message : messages) all += message.text + "\n";
        return all;
    }
};

// "int16 3", "int32 -5", "text 12": a value with the type it was passed as.
inline std::string Describe(const SettingValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return "text " + *text;
    if (const auto* number = std::get_if<std::int16_t>(&value)) {
        return "int16 " + std::to_string(*number);
    }
    return "int32 " + std::to_string(std::get<std::int32_t>(value));
}

// What the recording store saw and what it holds.
struct StoreLog {
    std::vector<std::string> calls;              // "create RegServer.RegFun", "read Path ..."
    std::map<std::string, SettingValue> stored;  // what a read finds; writes land here
    int alive = 0;                               // store objects in existence
    bool refuseCreation = false;
    int failAtWrite = 0;  // the n-th write (from 1) fails; 0: none
    int writes = 0;
};

class RecordingStore final : public ISettingsObject {
  public:
    explicit RecordingStore(StoreLog& log) : log_(log) { ++log_.alive; }
    ~RecordingStore() override { --log_.alive; }
    RecordingStore(const RecordingStore&) = delete;
    RecordingStore& operator=(const RecordingStore&) = delete;

    SettingValue ReadValue(std::int32_t root, const std::string& keyPath,
                           const std::string& valueName,
                           const SettingValue& defaultValue) override {
        CheckLocation(root, keyPath);
        log_.calls.push_back("read " + valueName + " " + Describe(defaultValue));
        const auto found = log_.stored.find(valueName);
        return found != log_.stored.end() ? found->second : defaultValue;
    }
    void WriteValue(std::int32_t root, const std::string& keyPath, const std::string& valueName,
                    const SettingValue& value) override {
        CheckLocation(root, keyPath);
        if (++log_.writes == log_.failAtWrite) throw Fault("Cannot write " + valueName);
        log_.calls.push_back("write " + valueName + " " + Describe(value));
        log_.stored[valueName] = value;
    }

  private:
    void CheckLocation(std::int32_t root, const std::string& keyPath) {
        if (root != -2147483646 || keyPath != "SOFTWARE\\Quarvell\\Fotolane") {
            log_.calls.push_back("wrong location");
        }
    }
    StoreLog& log_;
};

inline app::SettingsObjectFactory RecordingFactory(StoreLog& log) {
    return [&log](const std::string& progId) -> std::unique_ptr<ISettingsObject> {
        log.calls.push_back("create " + progId);
        if (log.refuseCreation) throw Fault("ActiveX component can't create object", progId);
        return std::make_unique<RecordingStore>(log);
    };
}

// A thumbnail maker that writes a small stand-in file for each thumbnail,
// or has the program's own maker make it. `onPicture` runs inside each call with the picture's
// number, where the real maker yields to pending events around its JPEG write.
struct MakerLog {
    bool real = false;                  // the program's own maker makes the thumbnails
    std::vector<std::string> pictures;  // the file names asked for, in order
    std::function<void(int)> onPicture;
    std::string failOn;  // a picture name that is the fault "Invalid picture"
    int created = 0;
    int alive = 0;
};

class FakeThumbnailMaker final : public gallery::IThumbnailMaker {
  public:
    explicit FakeThumbnailMaker(MakerLog& log)
        : log_(log), real_(log.real ? app::MakeThumbnailMaker() : nullptr) {
        ++log_.created;
        ++log_.alive;
    }
    ~FakeThumbnailMaker() override { --log_.alive; }
    FakeThumbnailMaker(const FakeThumbnailMaker&) = delete;
    FakeThumbnailMaker& operator=(const FakeThumbnailMaker&) = delete;

    void Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                      bool bThumbMode, std::int32_t& lSize) override {
        log_.pictures.push_back(strFileName);
        const std::string name = strFileName.substr(strFileName.find_last_of('/') + 1);
        if (name == log_.failOn) throw Fault::InvalidPicture(strFileName);
        if (real_) {
            real_->Get_Thrumbal(strFileName, strNewPath, bThumbMode, lSize);
        } else {
            const std::string base = name.substr(0, name.find_last_of('.'));
            std::ofstream(strNewPath + base + ".jpg", std::ios::binary) << "thumbnail";
        }
        if (log_.onPicture) log_.onPicture(static_cast<int>(log_.pictures.size()));
    }
    void Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                         std::int32_t& DimY) override {
        if (real_) return real_->Get_SizePicture(strFileName, DimX, DimY);
        DimX = 640;
        DimY = 480;
    }
    void FinishThumbnails() override {
        if (real_) real_->FinishThumbnails();
    }

  private:
    MakerLog& log_;
    std::unique_ptr<gallery::IThumbnailMaker> real_;
};

inline app::ThumbnailMakerFactory FakeMakerFactory(MakerLog& log) {
    return [&log] { return std::make_unique<FakeThumbnailMaker>(log); };
}

// A configuration folder of its own for the life of the object: the real
// settings store writes below it, never into the user's.
class ConfigFolder {
  public:
    ConfigFolder() : previous_(qgetenv("XDG_CONFIG_HOME")) {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(folder_.str()));
    }
    ~ConfigFolder() { qputenv("XDG_CONFIG_HOME", previous_); }
    ConfigFolder(const ConfigFolder&) = delete;
    ConfigFolder& operator=(const ConfigFolder&) = delete;

    std::string SettingsFile() const { return folder_ / "Quarvell/Fotolane.ini"; }
    const TempFolder& Folder() const { return folder_; }

  private:
    TempFolder folder_;
    QByteArray previous_;
};

inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Opens a folder in Dir1 the way a user does: the root, then each folder on
// the way down, each selected and opened with Enter.
inline void OpenInDir1(app::frmGetHTML& window, const QString& folder) {
    const QStringList chain = app::AncestorsOf(folder);
    for (const QString& step : chain) {
        int row = -1;
        for (int i = 0; i < window.Dir1.count(); ++i) {
            if (window.Dir1.FolderAt(i) == step) row = i;
        }
        QVERIFY2(row >= 0, qPrintable("not listed in Dir1: " + step));
        window.Dir1.setCurrentRow(row);
        QTest::keyClick(&window.Dir1, Qt::Key_Return);
    }
}

}  // namespace fotolane::testing
