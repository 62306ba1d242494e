#pragma once
// A small registry: roots, keys (backslash-separated paths), and named values
// that are either text or of another type. On Windows it is the real
// registry; elsewhere each root is an INI file under the user's
// configuration folder (see RegistryFiles below). Tests replace the instance
// or point XDG_CONFIG_HOME at a temporary folder.
#include <QString>
#include <optional>

enum class RegRoot { CurrentUser, ClassesRoot };

class Registry {
public:
    struct Value {
        bool isText = true;
        QString text;
    };

    virtual ~Registry() = default;

    virtual bool keyExists(RegRoot root, const QString& key) = 0;
    // Creates the key and its parents; false when that cannot be done.
    virtual bool createKey(RegRoot root, const QString& key) = 0;
    // The named value of the key; an empty name is the key's default value.
    virtual std::optional<Value> queryValue(RegRoot root, const QString& key,
                                            const QString& name) = 0;
    // Stores a text value and makes sure it reached the backing store.
    virtual bool setString(RegRoot root, const QString& key, const QString& name,
                           const QString& text) = 0;

    static Registry& instance();
    // Install `registry` (not owned); nullptr restores the native one.
    static void setInstance(Registry* registry);
};

// The system's own store, whatever instance is installed.
Registry& nativeRegistry();

// Where the INI backing keeps a root and key on systems without a registry:
// HKCU "Software\Org\App\..." lives in <config>/Org/App.conf, other
// HKCU keys in <config>/Trova/HKEY_CURRENT_USER.conf, and ClassesRoot in
// <config>/Trova/HKEY_CLASSES_ROOT.conf. Exposed so that tests and tools can
// prepare a store.
struct RegistryLocation {
    QString file;  // INI file (empty on Windows)
    QString group; // QSettings group path inside it, '/'-separated
};
RegistryLocation registryLocation(RegRoot root, const QString& key);
