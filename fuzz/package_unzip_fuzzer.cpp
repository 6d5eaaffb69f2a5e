// libFuzzer target for package_unzip: any bytes as a ".cpk" archive. Besides the sanitizers'
// checks, it asserts that extraction never writes outside its destination folder.

#include "plugins/PluginFiles.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>

namespace {

char g_workFolder[] = "/tmp/quillet-fuzz-XXXXXX";

void removeWorkFolder()
{
    const std::string command = std::string("rm -rf '") + g_workFolder + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", g_workFolder);
}

const std::string &workFolder()
{
    static const std::string folder = [] {
        if (!mkdtemp(g_workFolder))
            std::abort();
        std::atexit(removeWorkFolder);
        return std::string(g_workFolder);
    }();
    return folder;
}

// The work folder may hold only the input archive and the destination folder.
void checkNothingEscaped(const std::string &folder)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        std::abort();
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") && std::strcmp(name, "..") && std::strcmp(name, "input.cpk")
            && std::strcmp(name, "out")) {
            std::fprintf(stderr, "extraction escaped its destination: %s/%s\n", folder.c_str(), name);
            std::abort();
        }
    }
    closedir(dir);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string &folder = workFolder();
    const std::string archive = folder + "/input.cpk";
    const std::string destination = folder + "/out";

    FILE *file = std::fopen(archive.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
    mkdir(destination.c_str(), 0755);

    const int result = package_unzip(archive.c_str(), destination.c_str());
    if (result != 0 && result != 1)
        std::abort();
    checkNothingEscaped(folder);
    // Very deep trees can exceed the open-file limit of the recursive removal.
    if (remove_tree(destination.c_str()) != 0 && std::system(("rm -rf '" + destination + "'").c_str()) != 0)
        std::abort();
    return 0;
}
