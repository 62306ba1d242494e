#include "RegIniFile.h"

#include "Errors.h"

TRegIniFile::TRegIniFile(const QString& key, RegRoot root) : root_(root), key_(key)
{
    // A key that cannot be created here is reported by the first write that
    // needs it, with the section's name, which tells the operator more.
    Registry::instance().createKey(root_, key_);
}

QString TRegIniFile::sectionKey(const QString& section) const
{
    return key_ + u'\\' + section;
}

bool TRegIniFile::SectionExists(const QString& section) const
{
    return Registry::instance().keyExists(root_, sectionKey(section));
}

QString TRegIniFile::ReadString(const QString& section, const QString& name,
                                const QString& fallback) const
{
    const auto value = Registry::instance().queryValue(root_, sectionKey(section), name);
    if (!value)
        return fallback;
    if (!value->isText)
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
    return value->text;
}

int TRegIniFile::ReadInteger(const QString& section, const QString& name, int fallback) const
{
    const auto value = Registry::instance().queryValue(root_, sectionKey(section), name);
    if (!value)
        return fallback;
    if (!value->isText)
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(name));
    return StrToIntDef(value->text, fallback);
}

void TRegIniFile::WriteString(const QString& section, const QString& name, const QString& value)
{
    Registry& registry = Registry::instance();
    const QString key = sectionKey(section);
    if (!registry.keyExists(root_, key) && !registry.createKey(root_, key))
        throw ERegistryException(QStringLiteral("Failed to create key %1").arg(section));
    if (!registry.setString(root_, key, name, value))
        throw ERegistryException(QStringLiteral("Failed to set data for '%1'").arg(name));
}

void TRegIniFile::WriteInteger(const QString& section, const QString& name, int value)
{
    WriteString(section, name, QString::number(value));
}
