#pragma once
// Helpers for tests that prepare or inspect the per-user settings store.
#include "Registry.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <QMap>
#include <functional>
#include <string>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace storefix {

inline const QString SettingsKey = QStringLiteral("Software\\Trova\\5926");

// The INI file that backs HKCU "Software\Trova\5926" for the configuration
// folder in force now.
inline QString storeFile()
{
    return registryLocation(RegRoot::CurrentUser, SettingsKey).file;
}

// The store as the system's registry keeps it, where there is one.
inline QString nativeStorePath()
{
    return QStringLiteral("HKEY_CURRENT_USER\\") + SettingsKey;
}

// Empties the store: the next start is a first run.
inline void removeStore()
{
    if (!storeFile().isEmpty()) {
        QFile::remove(storeFile());
        return;
    }
    QSettings native(nativeStorePath(), QSettings::NativeFormat);
    native.clear();
    native.sync();
}

#ifdef Q_OS_WIN
// The Windows store is the registry key itself: these read and write it
// directly, in the INI text the other stores hold, so that one test serves
// both. A value "@ByteArray(...)" becomes binary data, the form QSettings
// gives a value that is not text.
namespace detail {
inline HKEY openSettings(bool create)
{
    HKEY key = nullptr;
    const std::wstring path = SettingsKey.toStdWString();
    const LONG rc = create ? RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr)
                           : RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key);
    return rc == ERROR_SUCCESS ? key : nullptr;
}
} // namespace detail

inline bool writeStore(const QByteArray& content)
{
    removeStore();
    RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey.toStdWString().c_str());
    HKEY root = detail::openSettings(true);
    if (!root)
        return false;
    HKEY section = nullptr;
    bool ok = true;
    for (const QByteArray& line : content.split('\n')) {
        if (line.isEmpty())
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            if (section)
                RegCloseKey(section);
            section = nullptr;
            const std::wstring name = QString::fromUtf8(line.mid(1, line.size() - 2)).toStdWString();
            ok = ok && RegCreateKeyExW(root, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                       &section, nullptr) == ERROR_SUCCESS;
            continue;
        }
        const int eq = line.indexOf('=');
        if (!section || eq < 0) {
            ok = false; // nothing a registry can hold
            continue;
        }
        const std::wstring name = QString::fromUtf8(line.left(eq)).toStdWString();
        const QByteArray value = line.mid(eq + 1);
        if (value.startsWith("@ByteArray(") && value.endsWith(')')) {
            const QByteArray bytes = value.mid(11, value.size() - 12);
            ok = ok && RegSetValueExW(section, name.c_str(), 0, REG_BINARY,
                                      reinterpret_cast<const BYTE*>(bytes.constData()),
                                      DWORD(bytes.size())) == ERROR_SUCCESS;
        } else {
            const std::wstring text = QString::fromUtf8(value).toStdWString();
            ok = ok && RegSetValueExW(section, name.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(text.c_str()),
                                      DWORD((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        }
    }
    if (section)
        RegCloseKey(section);
    RegCloseKey(root);
    return ok;
}

// The store as INI text: its sections and their values, each in name order.
inline QByteArray readStore()
{
    HKEY root = detail::openSettings(false);
    if (!root)
        return QByteArray();
    QByteArray out;
    QStringList sections;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD len = 256;
        if (RegEnumKeyExW(root, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        sections << QString::fromWCharArray(name, int(len));
    }
    sections.sort();
    for (const QString& sectionName : sections) {
        out += '[' + sectionName.toUtf8() + "]\n";
        HKEY section = nullptr;
        if (RegOpenKeyExW(root, sectionName.toStdWString().c_str(), 0, KEY_READ, &section) != ERROR_SUCCESS)
            continue;
        QMap<QString, QByteArray> values;
        for (DWORD i = 0;; ++i) {
            DWORD len = 256, type = 0, size = 0;
            if (RegEnumValueW(section, i, name, &len, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
                break;
            QByteArray data(int(size), '\0');
            len = 256;
            RegEnumValueW(section, i, name, &len, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &size);
            const QString valueName = QString::fromWCharArray(name, int(len));
            if (type == REG_SZ)
                values[valueName] = QString::fromWCharArray(reinterpret_cast<const wchar_t*>(data.constData()),
                                                            int(size / sizeof(wchar_t)))
                                        .section(QChar(0), 0, 0)
                                        .toUtf8();
            else
                values[valueName] = "@ByteArray(" + data.left(int(size)) + ')';
        }
        RegCloseKey(section);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            out += it.key().toUtf8() + '=' + it.value() + '\n';
    }
    RegCloseKey(root);
    return out;
}

// `content` as the store gives it back once written.
inline QByteArray asStored(const QByteArray& content)
{
    QByteArray out;
    QMap<QByteArray, QMap<QByteArray, QByteArray>> sections;
    QByteArray current;
    for (const QByteArray& line : content.split('\n')) {
        if (line.startsWith('[') && line.endsWith(']')) {
            current = line.mid(1, line.size() - 2);
            sections[current];
        } else if (const int eq = line.indexOf('='); eq > 0) {
            sections[current][line.left(eq)] = line.mid(eq + 1);
        }
    }
    for (auto s = sections.cbegin(); s != sections.cend(); ++s) {
        out += '[' + s.key() + "]\n";
        for (auto v = s.value().cbegin(); v != s.value().cend(); ++v)
            out += v.key() + '=' + v.value() + '\n';
    }
    return out;
}
#else
// Replaces the store with `content` (INI text).
//
// QSettings keeps INI files it has read in a process-wide cache and trusts
// it while size and modification time are unchanged; tests rewrite the file
// within the same millisecond, often with a text of the same length, so each
// written store gets a modification time of its own.
inline bool writeStore(const QByteArray& content)
{
    static int written = 0;
    const QString file = storeFile();
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (f.write(content) != content.size() || !f.flush())
        return false;
    const QDateTime unique =
        QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addSecs(++written);
    return f.setFileTime(unique, QFileDevice::FileModificationTime);
}

inline QByteArray readStore()
{
    QFile f(storeFile());
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

// `content` as the store gives it back once written: the very bytes.
inline QByteArray asStored(const QByteArray& content)
{
    return content;
}
#endif

// Names of the files kept beside the store, "5926.conf.broken" first.
inline QStringList keptStores()
{
    const QFileInfo store(storeFile());
    QStringList names = QDir(store.absolutePath())
                            .entryList({store.fileName() + QStringLiteral(".broken*")}, QDir::Files,
                                       QDir::Name);
    return names;
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

// The Device value as a first reading of the store's bytes finds it, past
// QSettings' cache of files it has read: "<absent>", "<unparsable>" or the
// text.
inline QString valueOnDisk(const QString& name)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.conf"));
    if (!QFile::copy(storeFile(), copy))
        return QStringLiteral("<absent>");
    QSettings s(copy, QSettings::IniFormat);
    s.allKeys();
    if (s.status() != QSettings::NoError)
        return QStringLiteral("<unparsable>");
    const QVariant v = s.value(QStringLiteral("Device/") + name);
    return v.isValid() ? v.toString() : QStringLiteral("<absent>");
}

// The stored value as the registry layer sees it: "<absent>", "<non-text>"
// or the text itself.
inline QString storedValue(const QString& name, const QString& section = QStringLiteral("Device"))
{
    const auto v = Registry::instance().queryValue(RegRoot::CurrentUser,
                                                   SettingsKey + u'\\' + section, name);
    if (!v)
        return QStringLiteral("<absent>");
    if (!v->isText)
        return QStringLiteral("<non-text>");
    return v->text;
}

// Passes every call to the registry that was installed before it, records
// the calls, and can make creating keys or writing values fail.
class RecordingRegistry final : public Registry {
public:
    RecordingRegistry() : inner_(Registry::instance()) { Registry::setInstance(this); }
    ~RecordingRegistry() override { Registry::setInstance(nullptr); }

    bool keyExists(RegRoot root, const QString& key) override
    {
        calls << QStringLiteral("keyExists ") + key;
        if (onCall)
            onCall(calls.last());
        return inner_.keyExists(root, key);
    }
    bool createKey(RegRoot root, const QString& key) override
    {
        calls << QStringLiteral("createKey ") + key;
        if (onCall)
            onCall(calls.last());
        if (failCreate)
            return false;
        return inner_.createKey(root, key);
    }
    std::optional<Value> queryValue(RegRoot root, const QString& key, const QString& name) override
    {
        calls << QStringLiteral("queryValue ") + name;
        if (onCall)
            onCall(calls.last());
        return inner_.queryValue(root, key, name);
    }
    bool setString(RegRoot root, const QString& key, const QString& name,
                   const QString& text) override
    {
        calls << QStringLiteral("setString ") + name + u'=' + text;
        if (onCall)
            onCall(calls.last());
        if (failSetFor.contains(name))
            return false;
        return inner_.setString(root, key, name, text);
    }

    QStringList writes() const { return calls.filter(QStringLiteral("setString ")); }

    QStringList calls;
    // Called after each call is recorded, for checks of what else was done
    // by then.
    std::function<void(const QString&)> onCall;
    bool failCreate = false;
    QStringList failSetFor;

private:
    Registry& inner_;
};

// Points the configuration folder somewhere for the lifetime of the object
// and restores the previous one after. QStandardPaths reads the variable at
// every call, so the store follows at once.
class ConfigHome {
public:
    explicit ConfigHome(const QString& path) : previous_(qgetenv("XDG_CONFIG_HOME"))
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path));
    }
    ~ConfigHome() { qputenv("XDG_CONFIG_HOME", previous_); }

private:
    QByteArray previous_;
};

} // namespace storefix
