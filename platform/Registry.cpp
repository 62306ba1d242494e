#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace {

QStringList keyParts(const QString& key)
{
    return key.split(u'\\', Qt::SkipEmptyParts);
}

#ifdef Q_OS_WIN
QString rootName(RegRoot root)
{
    return root == RegRoot::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER")
                                        : QStringLiteral("HKEY_CLASSES_ROOT");
}
#endif

// The value name QSettings uses for a key's default value.
QString valueName(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("Default") : name;
}

class NativeRegistry final : public Registry {
public:
    bool keyExists(RegRoot root, const QString& key) override
    {
#ifdef Q_OS_WIN
        const QStringList parts = keyParts(key);
        if (parts.isEmpty())
            return true;
        QString parent = rootName(root);
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            parent += u'\\' + parts[i];
        QSettings s(parent, QSettings::NativeFormat);
        return s.childGroups().contains(parts.last(), Qt::CaseInsensitive);
#else
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
#endif
    }

    bool createKey(RegRoot root, const QString& key) override
    {
        if (keyExists(root, key))
            return true;
#ifdef Q_OS_WIN
        QSettings s(rootName(root) + u'\\' + key, QSettings::NativeFormat);
        s.setValue(QStringLiteral("."), QVariant()); // touching the key creates it
        s.remove(QStringLiteral("."));
        s.sync();
        return s.status() == QSettings::NoError;
#else
        const RegistryLocation loc = registryLocation(root, key);
        if (!QDir().mkpath(QFileInfo(loc.file).absolutePath()))
            return false;
        QFile f(loc.file);
        if (!f.open(QIODevice::Append | QIODevice::Text))
            return false;
        if (loc.group.isEmpty())
            return true;
        const QByteArray header = "\n[" + loc.group.section(u'/', 0, 0).toUtf8() + "]\n";
        return f.write(header) == header.size() && f.flush();
#endif
    }

    std::optional<Value> queryValue(RegRoot root, const QString& key, const QString& name) override
    {
        const RegistryLocation loc = registryLocation(root, key);
        const auto s = open(root, key, loc);
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
        const auto s = open(root, key, loc);
        if (!s->isWritable())
            return false;
        s->setValue(valueName(name), text);
        s->sync();
        return s->status() == QSettings::NoError;
    }

private:
    static std::unique_ptr<QSettings> open(RegRoot root, const QString& key,
                                           const RegistryLocation& loc)
    {
#ifdef Q_OS_WIN
        Q_UNUSED(loc);
        return std::make_unique<QSettings>(rootName(root) + u'\\' + key, QSettings::NativeFormat);
#else
        Q_UNUSED(root);
        Q_UNUSED(key);
        auto s = std::make_unique<QSettings>(loc.file, QSettings::IniFormat);
        if (!loc.group.isEmpty())
            s->beginGroup(loc.group);
        return s;
#endif
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

Registry* installed = nullptr;

} // namespace

RegistryLocation registryLocation(RegRoot root, const QString& key)
{
    RegistryLocation loc;
#ifdef Q_OS_WIN
    Q_UNUSED(root);
    Q_UNUSED(key);
#else
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
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
#endif
    return loc;
}

Registry& Registry::instance()
{
    static NativeRegistry native;
    return installed ? *installed : static_cast<Registry&>(native);
}

void Registry::setInstance(Registry* registry)
{
    installed = registry;
}
