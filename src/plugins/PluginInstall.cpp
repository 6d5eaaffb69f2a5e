// Installing and removing plugins: the registry operations that change plugin folders on disk.

#include "plugins/PluginFiles.h"
#include "plugins/PluginRegistry.h"

#include "support/Log.h"
#include "support/Md5.h"

#include <QByteArray>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

// True when folder (with or without a trailing "/") lies directly in root. Only the parent
// is resolved: a symbolic link in root counts by where it lies, not by what it points to.
bool is_in_root(const char *folder, const char *root)
{
    char path[kPluginPathCapacity];
    if (strip_slashes(path, sizeof path, folder) != 0)
        return false;
    char *slash = std::strrchr(path, '/');
    if (!slash || !has_suffix(slash + 1, kPluginFolderSuffix))
        return false;
    const char *parent = slash == path ? "/" : path;
    *slash = '\0';
    std::unique_ptr<char, decltype(&std::free)> real_parent(realpath(parent, nullptr), &std::free);
    std::unique_ptr<char, decltype(&std::free)> real_root(realpath(root, nullptr), &std::free);
    return real_parent && real_root && std::strcmp(real_parent.get(), real_root.get()) == 0;
}

// Moves source to target. An existing target is first set aside and only deleted once the new
// folder is in place, so a failed move leaves the installed plugin as it was.
bool replace_folder(const char *source, const char *target)
{
    char backup[kPluginPathCapacity];
    const int written = std::snprintf(backup, sizeof backup, "%s.old", target);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof backup)
        return false;
    int is_folder = 0;
    const bool had_target = path_kind(target, &is_folder) == 0;
    if (had_target) {
        if (path_kind(backup, &is_folder) == 0)
            remove_tree(backup);
        if (std::rename(target, backup) != 0) {
            qCWarning(lcPlugins, "cannot set aside %s: %s", target, std::strerror(errno));
            return false;
        }
    }
    if (std::rename(source, target) != 0) {
        qCWarning(lcPlugins, "cannot move %s to %s: %s", source, target, std::strerror(errno));
        if (had_target)
            std::rename(backup, target);
        return false;
    }
    if (had_target && remove_tree(backup) != 0)
        qCWarning(lcPlugins, "cannot remove the replaced plugin folder %s", backup);
    return true;
}

// Unpacks the package into work and moves its plugin folder into the registry's root.
int install_from(const char *package_path, const char *work, PluginRegistry *registry)
{
    if (package_unzip(package_path, work) != 0)
        return 1;
    int is_folder = 0;
    char payload[kPluginPathCapacity];
    if (join_path(payload, sizeof payload, work, "Payload") != 0 || path_kind(payload, &is_folder) != 0
        || !is_folder)
        return 1;
    char source[kPluginPathCapacity];
    char name[256];
    if (find_cplugin_folder(payload, source, sizeof source, name, sizeof name) != 0)
        return 1;
    char source_folder[kPluginPathCapacity];
    const int written = std::snprintf(source_folder, sizeof source_folder, "%s/", source);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof source_folder)
        return 1;
    PluginRecord *info = nullptr;
    if (plugin_read_info(&info, source_folder) != 0)
        return 1;
    const QByteArray folder_name = md5_hex(QByteArray(info->bundle_id)).toLatin1() + kPluginFolderSuffix;
    plugin_record_free(info);

    char target[kPluginPathCapacity];
    if (join_path(target, sizeof target, registry->root, folder_name.constData()) != 0)
        return 1;
    qCDebug(lcPlugins, "install %s as %s", source, target);
    return replace_folder(source, target) ? 0 : 1;
}

} // namespace

int plugin_install_package(const char *package_path, PluginRegistry *registry)
{
    int is_folder = 0;
    if (!package_path || !registry || !registry->root[0] || !registry->extraction_folder[0]
        || path_kind(package_path, &is_folder) != 0 || is_folder)
        return 1;
    mkdir(registry->extraction_folder, 0700);
    mkdir(registry->root, 0755);

    // Each package unpacks into a folder of its own, so leftovers of an earlier failed install
    // can never be mistaken for this package's plugin; it goes whatever the outcome.
    char work[kPluginPathCapacity];
    if (join_path(work, sizeof work, registry->extraction_folder, "cpk-XXXXXX") != 0 || !mkdtemp(work)) {
        qCWarning(lcPlugins, "cannot make an extraction folder in %s", registry->extraction_folder);
        return 1;
    }
    const int result = install_from(package_path, work, registry);
    if (remove_tree(work) != 0)
        qCWarning(lcPlugins, "cannot remove the extraction folder %s", work);
    if (result == 0)
        plugin_registry_reload(registry);
    return result;
}

int plugin_remove(const char *folder, PluginRegistry *registry)
{
    if (!folder || !registry)
        return 1;
    int result = 0;
    char link_or_folder[kPluginPathCapacity];
    struct stat st {
    };
    if (strip_slashes(link_or_folder, sizeof link_or_folder, folder) == 0
        && lstat(link_or_folder, &st) == 0) {
        if (!is_in_root(folder, registry->root)) {
            qCWarning(lcPlugins, "%s is not an installed plugin of %s; left alone", folder, registry->root);
            result = 1;
        } else if (remove_tree(folder) != 0) {
            qCWarning(lcPlugins, "cannot remove plugin folder %s", folder);
            result = 1;
        }
    }
    plugin_registry_reload(registry);
    return result;
}
