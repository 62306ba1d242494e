#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <memory>

namespace {

QStringList keyParts(const QString& key)
{
    return key.split(u'\\', Qt::SkipEmptyParts);
}

// The value name QSettings uses for a key's default value.
QString valueName(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("Default") : name;
}

// The user's configuration folder. Qt takes XDG_CONFIG_HOME as given, but
// the XDG rules say a relative value is to be ignored: taken as given, it
// would put the settings into whatever folder the program was started in,
// and the next start from elsewhere would not find them.
QString configFolder()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configHome.isEmpty() && QDir::isRelativePath(configHome)
        && !QStandardPaths::isTestModeEnabled())
        return QDir::homePath() + QStringLiteral("/.config");
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// QSettings keeps every INI file it has read in a process-wide cache and
// trusts it while the file's size and time are unchanged, and the first
// error a QSettings object meets sticks to it: neither a later object's
// status nor its values tell what the file on disk holds now. These helpers
// read a copy of the file under a name of its own, which QSettings has
// never seen, so the answer comes from the bytes themselves.
template <class F>
bool readFreshCopy(const QString& file, F&& use)
{
    QFile original(file);
    if (!original.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = original.readAll();
    if (original.error() != QFileDevice::NoError)
        return false;
    // In the temporary folder, or beside the file when that one is unusable.
    const QFileInfo info(file);
    for (const QString& folder : {QDir::tempPath(), info.absolutePath()}) {
        QTemporaryFile copy(folder + QStringLiteral("/.") + info.fileName()
                            + QStringLiteral("-check-XXXXXX"));
        if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush())
            continue;
        QSettings settings(copy.fileName(), QSettings::IniFormat);
        use(settings);
        return true;
    }
    return false;
}

enum class StoreState { Missing, Parsable, Unparsable };

// Whether QSettings can read the whole file without a format error (lines
// without '=', a section header without ']', comments other than ';',
// binary junk). A file that cannot even be copied for the check counts as
// unparsable: being kept aside is harmless, being replaced is not.
StoreState storeState(const QString& file)
{
    if (!QFileInfo::exists(file))
        return StoreState::Missing;
    bool parsable = false;
    readFreshCopy(file, [&](QSettings& s) {
        s.allKeys(); // sections are parsed lazily; this parses them all
        parsable = s.status() == QSettings::NoError;
    });
    return parsable ? StoreState::Parsable : StoreState::Unparsable;
}

// Before a write replaces a file QSettings cannot parse (its rewrite would
// keep only what it understood), the file is kept whole under a free name:
// <file>.broken, <file>.broken.1, ... False when it cannot be kept, so that
// nothing replaces it. A file the write could not touch anyway stays where
// it is, and the write fails on its own account.
bool keepUnparsableStore(const QString& file)
{
    if (storeState(file) != StoreState::Unparsable)
        return true;
    if (!QFile(file).open(QIODevice::ReadWrite))
        return true;
    constexpr int Names = 1000;
    for (int i = 0; i < Names; ++i) {
        const QString name = file + QStringLiteral(".broken")
                             + (i == 0 ? QString() : u'.' + QString::number(i));
        if (QFileInfo::exists(name) || QFileInfo(name).isSymLink())
            continue;
        // Never over an existing file: QFile::rename refuses to replace one.
        if (QFile::rename(file, name))
            return true;
        if (!QFileInfo::exists(name))
            return false;
    }
    return false;
}

// The value as a fresh reading of the file finds it; nullopt when it is not
// there or the file cannot be read.
std::optional<QString> textOnDisk(const QString& file, const QString& group, const QString& name)
{
    std::optional<QString> text;
    readFreshCopy(file, [&](QSettings& s) {
        if (!group.isEmpty())
            s.beginGroup(group);
        const QVariant v = s.value(name);
        if (v.isValid() && v.typeId() == QMetaType::QString)
            text = v.toString();
    });
    return text;
}

class IniRegistry final : public Registry {
public:
    bool keyExists(RegRoot root, const QString& key) override
    {
        const RegistryLocation loc = registryLocation(root, key);
        if (loc.group.isEmpty())
            return QFileInfo::exists(loc.file);
        QSettings s(loc.file, QSettings::IniFormat);
        s.beginGroup(loc.group);
        if (!s.childKeys().isEmpty() || !s.childGroups().isEmpty())
            return true;
        s.endGroup();
        // An INI section without values is a key without values; QSettings
        // does not report it, so look for its header.
        return !loc.group.contains(u'/') && hasSectionHeader(loc.file, loc.group);
    }

    bool createKey(RegRoot root, const QString& key) override
    {
        if (keyExists(root, key))
            return true;
        const RegistryLocation loc = registryLocation(root, key);
        if (!QDir().mkpath(QFileInfo(loc.file).absolutePath()))
            return false;
        // Adding a section header is the first write into the file.
        if (!loc.group.isEmpty() && !keepUnparsableStore(loc.file))
            return false;
        QFile f(loc.file);
        if (!f.open(QIODevice::Append | QIODevice::Text))
            return false;
        if (loc.group.isEmpty())
            return true;
        const QByteArray header = "\n[" + loc.group.section(u'/', 0, 0).toUtf8() + "]\n";
        return f.write(header) == header.size() && f.flush();
    }

    std::optional<Value> queryValue(RegRoot root, const QString& key, const QString& name) override
    {
        const auto s = open(registryLocation(root, key));
        const QVariant v = s->value(valueName(name));
        if (!v.isValid())
            return std::nullopt;
        Value out;
        out.isText = v.typeId() == QMetaType::QString;
        if (out.isText)
            out.text = v.toString();
        return out;
    }

    bool setString(RegRoot root, const QString& key, const QString& name, const QString& text) override
    {
        const RegistryLocation loc = registryLocation(root, key);
        if (!keepUnparsableStore(loc.file))
            return false;
        const auto s = open(loc);
        if (!s->isWritable())
            return false;
        s->setValue(valueName(name), text);
        s->sync();
        // The status can carry an error of an earlier reading (a format
        // error masks the write's own result either way), so a write counts
        // when its value really is in the file.
        return s->status() != QSettings::AccessError
               && textOnDisk(loc.file, loc.group, valueName(name)) == text;
    }

private:
    static std::unique_ptr<QSettings> open(const RegistryLocation& loc)
    {
        auto s = std::make_unique<QSettings>(loc.file, QSettings::IniFormat);
        if (!loc.group.isEmpty())
            s->beginGroup(loc.group);
        return s;
    }

    static bool hasSectionHeader(const QString& file, const QString& section)
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            return false;
        const QByteArray wanted = "[" + section.toUtf8() + "]";
        while (!f.atEnd()) {
            if (f.readLine().trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
};

} // namespace

RegistryLocation registryLocation(RegRoot root, const QString& key)
{
    RegistryLocation loc;
    const QString config = configFolder();
    QStringList parts = keyParts(key);
    if (root == RegRoot::CurrentUser && parts.size() >= 3
        && parts[0].compare(QStringLiteral("Software"), Qt::CaseInsensitive) == 0) {
        loc.file = config + u'/' + parts[1] + u'/' + parts[2] + QStringLiteral(".conf");
        parts.remove(0, 3);
    } else {
        loc.file = config + QStringLiteral("/Trova/")
                   + (root == RegRoot::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER.conf")
                                                   : QStringLiteral("HKEY_CLASSES_ROOT.conf"));
    }
    loc.group = parts.join(u'/');
    return loc;
}

Registry& nativeRegistry()
{
    static IniRegistry native;
    return native;
}
