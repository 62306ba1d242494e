#include "Registry.h"

#include <QSettings>

#include <windows.h>

#include <memory>

namespace {

HKEY rootKey(RegRoot root)
{
    return root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
}

QString rootName(RegRoot root)
{
    return root == RegRoot::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER")
                                        : QStringLiteral("HKEY_CLASSES_ROOT");
}

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

class OpenKey {
public:
    OpenKey(HKEY root, const QString& key)
    {
        if (RegOpenKeyExW(root, wide(key), 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~OpenKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// A value of the current user's keys as the registry holds it now.
std::optional<Registry::Value> readWide(HKEY root, const QString& key, const QString& name)
{
    const OpenKey open(root, key);
    if (!open.get())
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(open.get(), wide(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    Registry::Value out;
    out.isText = type == REG_SZ || type == REG_EXPAND_SZ;
    if (!out.isText)
        return out;
    // The value may change between the two calls; a second round settles it.
    for (int round = 0; round < 2; ++round) {
        std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = DWORD(buffer.size() * sizeof(wchar_t));
        const LONG result = RegQueryValueExW(open.get(), wide(name), nullptr, &type,
                                             reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (result == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (result != ERROR_SUCCESS)
            return std::nullopt;
        buffer.resize(got / sizeof(wchar_t));
        while (!buffer.empty() && buffer.back() == L'\0')
            buffer.pop_back();
        out.text = QString::fromStdWString(buffer);
        return out;
    }
    return std::nullopt;
}

// The file associations are read the way the system's own shell code of
// that generation reads them: the key's default value as ANSI text.
std::optional<Registry::Value> readClassesDefault(const QString& key)
{
    const QByteArray name = key.toLocal8Bit();
    LONG size = 0;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, name.constData(), nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    QByteArray buffer(size + 1, '\0');
    LONG got = LONG(buffer.size());
    if (RegQueryValueA(HKEY_CLASSES_ROOT, name.constData(), buffer.data(), &got) != ERROR_SUCCESS)
        return std::nullopt;
    Registry::Value out;
    out.text = QString::fromLocal8Bit(buffer.constData()); // up to its terminating zero
    return out;
}

// Writes go through QSettings. Reads do not: QSettings opens every key of
// its path for writing and so creates it, and a mere look must not make a
// section exist.
class WindowsRegistry final : public Registry {
public:
    bool keyExists(RegRoot root, const QString& key) override
    {
        return OpenKey(rootKey(root), key).get() != nullptr;
    }

    bool createKey(RegRoot root, const QString& key) override
    {
        if (keyExists(root, key))
            return true;
        QSettings s(path(root, key), QSettings::NativeFormat);
        if (!s.isWritable()) // opening it for writing has made it, when it can be made
            return false;
        s.sync();
        return s.status() == QSettings::NoError && keyExists(root, key);
    }

    std::optional<Value> queryValue(RegRoot root, const QString& key, const QString& name) override
    {
        if (root == RegRoot::ClassesRoot && name.isEmpty())
            return readClassesDefault(key);
        return readWide(rootKey(root), key, name);
    }

    bool setString(RegRoot root, const QString& key, const QString& name, const QString& text) override
    {
        QSettings s(path(root, key), QSettings::NativeFormat);
        if (!s.isWritable())
            return false;
        // QSettings names a key's default value "Default".
        s.setValue(name.isEmpty() ? QStringLiteral("Default") : name, text);
        s.sync();
        if (s.status() != QSettings::NoError)
            return false;
        const auto stored = readWide(rootKey(root), key, name);
        return stored && stored->isText && stored->text == text;
    }

private:
    static QString path(RegRoot root, const QString& key)
    {
        return rootName(root) + u'\\' + key;
    }
};

} // namespace

RegistryLocation registryLocation(RegRoot, const QString&)
{
    return {};
}

Registry& nativeRegistry()
{
    static WindowsRegistry native;
    return native;
}
