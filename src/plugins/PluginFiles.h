#pragma once

#include <cstddef>

// The file side of the plugin file module: package extraction and plugin folders on disk, with
// plain functions over zero-terminated paths. They know nothing of registries. Every function
// that answers an int answers 0 for success and a non-zero value (1 or -1) for failure.

inline constexpr char kPluginFolderSuffix[] = ".cplugin";
// Paths handled by the module, with their terminating zero, fit in this many bytes.
inline constexpr std::size_t kPluginPathCapacity = 2048;

// Extracts a zip archive into destination. Returns 1, having written nothing, when any entry
// name is absolute or holds a ".." component; returns 1 on any broken entry. Missing parent
// folders are created.
int package_unzip(const char *archive_path, const char *destination);
// Deletes a folder and everything in it. Symbolic links are removed, never followed, also when
// folder itself is one. 0 on success, -1 otherwise.
int remove_tree(const char *folder);
// 0 for a folder (*is_folder = 1) or regular file (*is_folder = 0); 1 when the path does not
// exist or cannot be examined; -1 for anything else, a symbolic link included: links are not
// followed.
int path_kind(const char *path, int *is_folder);
// Finds the first folder (not a link) inside folder whose name ends in ".cplugin". 0 when found (full path
// and name written to the out buffers), 1 otherwise.
int find_cplugin_folder(const char *folder, char *out_path, std::size_t path_capacity, char *out_name,
                        std::size_t name_capacity);
bool has_suffix(const char *name, const char *suffix);

// Copies src into a field of the given capacity, cutting an over-long value at a UTF-8
// character boundary so the field always holds whole characters and its terminating zero.
void copy_field(char *field, std::size_t capacity, const char *src, std::size_t length);
// Joins "<a>/<b>" into out; 0 on success, 1 (and out left empty) when it does not fit.
int join_path(char *out, std::size_t capacity, const char *a, const char *b);
// Copies path without its trailing slashes ("/" stays "/"): "link/" would name what a link
// points to, "link" names the link. 0 on success, 1 when it does not fit.
int strip_slashes(char *out, std::size_t capacity, const char *path);
