// The benchmark's plain operations, for setup.exe's copies and deletions to
// be measured against: CopyFileA or DeleteFileA of every file of a folder
// that matches a pattern. Prints "MS=<milliseconds>".
//
//   plain_ops.exe copy <source folder> <target folder> <pattern>
//   plain_ops.exe delete <folder> <pattern>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> NamesIn(const std::string& folder, const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        names.push_back(found.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    bool copy = command == "copy" && argc == 5;
    if (!copy && !(command == "delete" && argc == 4)) {
        std::printf("usage: plain_ops.exe copy <from> <to> <pattern> | delete <folder> <pattern>\n");
        return 2;
    }
    std::vector<std::string> names = NamesIn(argv[2], argv[argc - 1]);
    if (copy)
        CreateDirectoryA(argv[3], nullptr);
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    for (const std::string& name : names) {
        std::string from = std::string(argv[2]) + "\\" + name;
        bool done = copy ? CopyFileA(from.c_str(), (std::string(argv[3]) + "\\" + name).c_str(), FALSE)
                         : DeleteFileA(from.c_str());
        if (!done) {
            std::printf("! cannot %s %s (error %lu)\n", argv[1], name.c_str(), GetLastError());
            return 1;
        }
    }
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    std::printf("MS=%.1f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
    return 0;
}
