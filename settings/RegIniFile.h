#pragma once
// The per-user settings store: one registry key whose subkeys are sections
// holding text values. Reads and writes raise ERegistryException with the
// texts the operator sees when the registry refuses them.
#include "Registry.h"

#include <QString>

class TRegIniFile {
public:
    // Opens `key` under the current user's root, creating it when missing.
    explicit TRegIniFile(const QString& key, RegRoot root = RegRoot::CurrentUser);

    const QString& FileName() const { return key_; }

    bool SectionExists(const QString& section) const;
    QString ReadString(const QString& section, const QString& name, const QString& fallback) const;
    int ReadInteger(const QString& section, const QString& name, int fallback) const;
    void WriteString(const QString& section, const QString& name, const QString& value);
    void WriteInteger(const QString& section, const QString& name, int value);

private:
    QString sectionKey(const QString& section) const;
    RegRoot root_;
    QString key_;
};
