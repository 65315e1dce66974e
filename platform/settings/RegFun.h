#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace fotolane {

// A value as it passes into and out of the settings store: text, or a
// 16-bit or 32-bit signed integer.
using SettingValue = std::variant<std::string, std::int16_t, std::int32_t>;

// Conversions of a setting's value to what a control needs. A number turns
// into its decimal digits. Text turns into an integer only when it is a
// decimal number as a whole (blanks around it, a sign and a fraction
// allowed; a fraction rounds half to even); other text is the fault
// "Type mismatch", and a number beyond the integer's range "Overflow".
std::string SettingText(const SettingValue& value);
std::int32_t SettingLong(const SettingValue& value);
std::int16_t SettingInteger(const SettingValue& value);

// The predefined registry root that the window's values live under.
inline constexpr std::int32_t kHKeyLocalMachine = static_cast<std::int32_t>(0x80000002u);

// The name of a predefined registry root ("HKEY_LOCAL_MACHINE" for
// 0x80000002); any other number is the fault "Invalid root key".
std::string RootKeyName(std::int32_t root);

// The settings store as the window uses it: a value is addressed by a root,
// a key path below it ("SOFTWARE\Quarvell\Fotolane") and a value name.
class ISettingsObject {
  public:
    virtual ~ISettingsObject() = default;
    // The value stored under the name, else `defaultValue` as passed.
    virtual SettingValue ReadValue(std::int32_t root, const std::string& keyPath,
                                   const std::string& valueName,
                                   const SettingValue& defaultValue) = 0;
    // Stores the value so that a later ReadValue, in a later run of the
    // program too, returns it. A value that cannot be stored is a fault.
    virtual void WriteValue(std::int32_t root, const std::string& keyPath,
                            const std::string& valueName, const SettingValue& value) = 0;
};

// The settings store of the ProgID "RegServer.RegFun": an INI file, grouped
// by the root's name and the key path, so that the value "Path" below
// HKEY_LOCAL_MACHINE and "SOFTWARE\Quarvell\Fotolane" is the line
// "SOFTWARE\Quarvell\Fotolane\Path=..." of the section [HKEY_LOCAL_MACHINE].
//
// The file lives in the user's configuration folder on every platform, so
// an ordinary user can write it whatever the root (below HKEY_LOCAL_MACHINE
// the Windows registry would refuse); the root's name is kept all the same.
// Each write reaches the disk at once and atomically (a new file, checked to
// hold every value, renamed over the old one): a write that fails leaves the
// earlier file as it was. Stored values come back as text, byte for byte
// also when they are not UTF-8.
class RegFun final : public ISettingsObject {
  public:
    RegFun();  // the user's file, DefaultFilePath()
    explicit RegFun(const std::string& filePath);
    RegFun(const RegFun&) = delete;
    RegFun& operator=(const RegFun&) = delete;
    ~RegFun() override;

    // Reading a file that exists but cannot be read (a folder in its place,
    // no permission) is a fault. Of a damaged file, what could be parsed
    // counts; the rest reads as not stored.
    SettingValue ReadValue(std::int32_t root, const std::string& keyPath,
                           const std::string& valueName, const SettingValue& defaultValue) override;
    // A damaged file is first kept aside, as it was found, in FilePath() +
    // ".damaged"; what could be parsed of it is written anew with the value.
    void WriteValue(std::int32_t root, const std::string& keyPath, const std::string& valueName,
                    const SettingValue& value) override;

    const std::string& FilePath() const { return filePath_; }

    // $XDG_CONFIG_HOME/Quarvell/Fotolane.ini (by default under ~/.config) on
    // Linux; the user's local application data folder on Windows. Looked up
    // anew at every call.
    static std::string DefaultFilePath();

  private:
    struct File;
    std::string filePath_;
    std::unique_ptr<File> file_;
};

inline constexpr const char* kRegFunProgId = "RegServer.RegFun";

// Creates the automation object that `progId` names. Only
// "RegServer.RegFun" is known; any other is the fault "ActiveX component
// can't create object".
std::unique_ptr<ISettingsObject> CreateObject(const std::string& progId);

}  // namespace fotolane
