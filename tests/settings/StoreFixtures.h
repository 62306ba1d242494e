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

#include <functional>

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
