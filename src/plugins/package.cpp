// File operations of the plugin file module: package extraction, installing and removing
// plugin folders (declared in package.h).

#include "plugins/package.h"

#include "support/Log.h"
#include "support/Md5.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kPluginSuffix[] = ".cplugin";
// A plugin is a handful of Lua files; this bounds what a hostile archive can put on the disk.
constexpr zip_uint64_t kMaxUnpackedBytes = 256ull * 1024 * 1024;
constexpr std::size_t kCopyChunk = 16 * 1024;

struct ZipCloser {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipCloser>;

// An entry name may not leave the destination: no absolute names, no ".." component.
bool entry_name_is_safe(const char *name)
{
    if (!name || !*name || name[0] == '/')
        return false;
    const char *component = name;
    while (true) {
        const char *slash = std::strchr(component, '/');
        const std::size_t length =
            slash ? static_cast<std::size_t>(slash - component) : std::strlen(component);
        if (length == 2 && component[0] == '.' && component[1] == '.')
            return false;
        if (!slash)
            return true;
        component = slash + 1;
    }
}

// Creates every missing folder of path below the first `keep` bytes (the destination, which
// exists). An existing non-folder in the way is a failure.
bool make_folders(const char *path, std::size_t keep)
{
    char partial[kPluginPathCapacity];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof partial)
        return false;
    for (std::size_t i = keep + 1; i <= length; ++i) {
        if (i != length && path[i] != '/')
            continue;
        std::memcpy(partial, path, i);
        partial[i] = '\0';
        if (mkdir(partial, 0755) == 0)
            continue;
        struct stat st {
        };
        if (errno != EEXIST || lstat(partial, &st) != 0 || !S_ISDIR(st.st_mode)) {
            qCWarning(lcPlugins, "cannot create folder %s: %s", partial, std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool write_all(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

// Copies one file entry to target; false on any read, write or checksum failure.
bool extract_file(zip_t *archive, zip_uint64_t index, const zip_stat_t &entry, const char *target)
{
    zip_file_t *file = zip_fopen_index(archive, index, 0);
    if (!file) {
        qCWarning(lcPlugins, "cannot open package entry %s: %s", entry.name, zip_strerror(archive));
        return false;
    }
    const int fd = open(target, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        qCWarning(lcPlugins, "cannot create %s: %s", target, std::strerror(errno));
        zip_fclose(file);
        return false;
    }
    bool ok = true;
    const bool sized = entry.valid & ZIP_STAT_SIZE;
    zip_uint64_t remaining = sized ? entry.size : kMaxUnpackedBytes;
    auto buffer = std::make_unique<char[]>(kCopyChunk);
    while (remaining > 0) {
        const zip_uint64_t want = remaining < kCopyChunk ? remaining : kCopyChunk;
        const zip_int64_t got = zip_fread(file, buffer.get(), want);
        if (got < 0 || (got == 0 && sized)) {
            // A read error, a bad checksum, or an entry shorter than it claims.
            qCWarning(lcPlugins, "package entry %s is broken: %s", entry.name, zip_file_strerror(file));
            ok = false;
            break;
        }
        if (got == 0)
            break;
        if (!write_all(fd, buffer.get(), static_cast<std::size_t>(got))) {
            qCWarning(lcPlugins, "cannot write %s: %s", target, std::strerror(errno));
            ok = false;
            break;
        }
        remaining -= static_cast<zip_uint64_t>(got);
    }
    // One more read reaches the entry's end, where libzip compares the checksum.
    if (ok && sized && zip_fread(file, buffer.get(), 1) != 0) {
        qCWarning(lcPlugins, "package entry %s is broken: %s", entry.name, zip_file_strerror(file));
        ok = false;
    }
    if (zip_fclose(file) != 0)
        ok = false;
    if (close(fd) != 0)
        ok = false;
    return ok;
}

// Checks every entry before anything is written, so a hostile archive leaves no trace.
bool check_entries(zip_t *archive, zip_int64_t count, const char *destination)
{
    zip_uint64_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t entry;
        zip_stat_init(&entry);
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &entry) != 0
            || !(entry.valid & ZIP_STAT_NAME))
            continue;
        if (!entry_name_is_safe(entry.name)) {
            qCWarning(lcPlugins, "package entry %s would leave the destination; refused", entry.name);
            return false;
        }
        char target[kPluginPathCapacity];
        if (join_path(target, sizeof target, destination, entry.name) != 0) {
            qCWarning(lcPlugins, "package entry name too long: %s", entry.name);
            return false;
        }
        if (entry.valid & ZIP_STAT_SIZE) {
            total += entry.size;
            if (entry.size > kMaxUnpackedBytes || total > kMaxUnpackedBytes) {
                qCWarning(lcPlugins, "package unpacks to more than %llu bytes; refused",
                          static_cast<unsigned long long>(kMaxUnpackedBytes));
                return false;
            }
        }
    }
    return true;
}

// Copies path without its trailing slashes ("/" stays "/"): "link/" would name what a link
// points to, "link" names the link. False when it does not fit.
bool strip_slashes(char *out, std::size_t capacity, const char *path)
{
    std::size_t length = std::strlen(path);
    while (length > 1 && path[length - 1] == '/')
        --length;
    if (length >= capacity)
        return false;
    std::memcpy(out, path, length);
    out[length] = '\0';
    return true;
}

// True when folder (with or without a trailing "/") lies directly in root. Only the parent
// is resolved: a symbolic link in root counts by where it lies, not by what it points to.
bool is_in_root(const char *folder, const char *root)
{
    char path[kPluginPathCapacity];
    if (!strip_slashes(path, sizeof path, folder))
        return false;
    char *slash = std::strrchr(path, '/');
    if (!slash || !has_suffix(slash + 1, kPluginSuffix))
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

int remove_contents(int fd)
{
    DIR *dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return -1;
    }
    int result = 0;
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st {
        };
        // Links are removed, never followed: deleting a plugin must not reach outside it.
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            result = -1;
        } else if (S_ISDIR(st.st_mode)) {
            const int child =
                openat(dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            result = child < 0 ? -1 : remove_contents(child);
            if (result == 0)
                result = unlinkat(dirfd(dir), entry->d_name, AT_REMOVEDIR);
        } else {
            result = unlinkat(dirfd(dir), entry->d_name, 0);
        }
        if (result != 0)
            break;
    }
    closedir(dir);
    return result;
}

} // namespace

int package_unzip(const char *archive_path, const char *destination)
{
    if (!archive_path || !destination)
        return 1;
    int error_code = 0;
    ZipArchive archive(zip_open(archive_path, ZIP_RDONLY, &error_code));
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, error_code);
        qCWarning(lcPlugins, "cannot open package %s: %s", archive_path, zip_error_strerror(&error));
        zip_error_fini(&error);
        return 1;
    }
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count < 0 || !check_entries(archive.get(), count, destination))
        return 1;

    const std::size_t keep = std::strlen(destination);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t entry;
        zip_stat_init(&entry);
        if (zip_stat_index(archive.get(), index, 0, &entry) != 0 || !(entry.valid & ZIP_STAT_NAME))
            continue;
        char target[kPluginPathCapacity];
        join_path(target, sizeof target, destination, entry.name); // checked by check_entries
        qCDebug(lcPlugins, "unpack %s (%s, %llu bytes, %lld)", target, entry.name,
                static_cast<unsigned long long>(entry.size), static_cast<long long>(entry.mtime));
        if (has_suffix(entry.name, "/")) {
            if (!make_folders(target, keep))
                return 1;
            continue;
        }
        // Parents are created even when the archive has no folder entries for them.
        char *slash = std::strrchr(target, '/');
        *slash = '\0';
        const bool parents = make_folders(target, keep);
        *slash = '/';
        if (!parents || !extract_file(archive.get(), index, entry, target))
            return 1;
    }
    if (zip_close(archive.release()) != 0) {
        qCWarning(lcPlugins, "cannot close package %s", archive_path);
        return 1;
    }
    return 0;
}

int remove_tree(const char *path)
{
    char folder[kPluginPathCapacity];
    if (!path || !strip_slashes(folder, sizeof folder, path))
        return -1;
    struct stat st {
    };
    if (lstat(folder, &st) != 0)
        return -1;
    // A link is removed itself; what it points to is never touched.
    if (!S_ISDIR(st.st_mode))
        return S_ISLNK(st.st_mode) && unlink(folder) == 0 ? 0 : -1;
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (remove_contents(fd) != 0)
        return -1;
    return rmdir(folder) == 0 ? 0 : -1;
}

int path_kind(const char *path, int *is_folder)
{
    struct stat st {
    };
    if (!path || lstat(path, &st) != 0)
        return 1;
    if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) {
        if (is_folder)
            *is_folder = S_ISDIR(st.st_mode) ? 1 : 0;
        return 0;
    }
    return -1;
}

int find_cplugin_folder(const char *folder, char *out_path, std::size_t path_capacity, char *out_name,
                        std::size_t name_capacity)
{
    if (!folder || !out_path || !out_name)
        return 1;
    DIR *dir = opendir(folder);
    if (!dir)
        return 1;
    int result = 1;
    while (const dirent *entry = readdir(dir)) {
        if (!has_suffix(entry->d_name, kPluginSuffix) || std::strlen(entry->d_name) >= name_capacity)
            continue;
        int is_folder = 0;
        if (join_path(out_path, path_capacity, folder, entry->d_name) != 0
            || path_kind(out_path, &is_folder) != 0 || !is_folder)
            continue;
        std::strcpy(out_name, entry->d_name);
        result = 0;
        break;
    }
    closedir(dir);
    return result;
}

bool has_suffix(const char *name, const char *suffix)
{
    if (!name || !suffix)
        return false;
    const std::size_t name_length = std::strlen(name);
    const std::size_t suffix_length = std::strlen(suffix);
    return name_length >= suffix_length
           && std::memcmp(name + name_length - suffix_length, suffix, suffix_length) == 0;
}

namespace {

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
    const QByteArray folder_name = md5_hex(QByteArray(info->bundle_id)).toLatin1() + kPluginSuffix;
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
    if (strip_slashes(link_or_folder, sizeof link_or_folder, folder) && lstat(link_or_folder, &st) == 0) {
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
