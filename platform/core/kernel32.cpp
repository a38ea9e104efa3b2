// KERNEL32 stand-ins: files over POSIX descriptors, the last-error code,
// the running program's path, Sleep.
#include "backend.h"
#include "core.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <unordered_set>

namespace {

thread_local DWORD last_error = 0;
const char *module_path = nullptr; // stands in for the program's path when set

// A file handle: a heap record so that a handle is never confused with a
// descriptor number (0 is a valid descriptor, a null HANDLE is not a file).
// Open records are listed, so that a closed or foreign handle is recognised
// without reading memory it no longer owns.
struct FileRecord {
    unsigned magic;
    int fd;
};
constexpr unsigned FILE_MAGIC = 0x6b46696cu;

std::unordered_set<FileRecord *> &live_files() {
    static std::unordered_set<FileRecord *> files;
    return files;
}

FileRecord *file_record(HANDLE handle) {
    FileRecord *record = static_cast<FileRecord *>(handle);
    if (record == nullptr || live_files().count(record) == 0)
        return nullptr;
    return record->magic == FILE_MAGIC ? record : nullptr;
}

// Windows' code for a failed open: a missing file in an existing folder is
// ERROR_FILE_NOT_FOUND, a path whose folder is missing ERROR_PATH_NOT_FOUND.
DWORD open_error(const char *name, int error) {
    switch (error) {
    case ENOENT: {
        const char *slash = strrchr(name, '/');
        if (slash == nullptr || slash == name)
            return ERROR_FILE_NOT_FOUND;
        char folder[4096];
        size_t length = static_cast<size_t>(slash - name);
        if (length >= sizeof folder)
            return ERROR_PATH_NOT_FOUND;
        memcpy(folder, name, length);
        folder[length] = 0;
        struct stat info;
        if (stat(folder, &info) == 0 && S_ISDIR(info.st_mode))
            return ERROR_FILE_NOT_FOUND;
        return ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

} // namespace

void platform_set_error(DWORD code) {
    last_error = code;
}

void platform_set_module_path(const char *path) {
    module_path = path;
}

DWORD GetLastError(void) {
    return last_error;
}

void SetLastError(DWORD code) {
    last_error = code;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE template_file) {
    (void)share;
    (void)security;
    (void)attributes;
    (void)template_file;
    if (name == nullptr || access != GENERIC_READ || disposition != OPEN_EXISTING) {
        last_error = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        last_error = open_error(name, errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        last_error = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    FileRecord *record = static_cast<FileRecord *>(malloc(sizeof(FileRecord)));
    if (record == nullptr) {
        close(fd);
        last_error = ERROR_NOT_ENOUGH_MEMORY;
        return INVALID_HANDLE_VALUE;
    }
    record->magic = FILE_MAGIC;
    record->fd = fd;
    live_files().insert(record);
    last_error = ERROR_SUCCESS;
    return record;
}

// The wide name in the system's UTF-8, the bytes GetModuleFileNameW escaped
// restored, so that the name it gave opens again.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE template_file) {
    if (name == nullptr) {
        last_error = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(platform_utf8_from_wide(name, 1).c_str(), access, share, security,
                       disposition, attributes, template_file);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD count_read,
              LPOVERLAPPED overlapped) {
    (void)overlapped;
    if (count_read != nullptr)
        *count_read = 0;
    FileRecord *record = file_record(file);
    if (record == nullptr) {
        last_error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    // Like ReadFile on a disk file, keep reading until the count is met or
    // the end of the file is reached.
    DWORD total = 0;
    while (total < count) {
        ssize_t got = read(record->fd, static_cast<char *>(buffer) + total, count - total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (count_read != nullptr)
                *count_read = total;
            last_error = ERROR_READ_FAULT;
            return FALSE;
        }
        if (got == 0)
            break;
        total += static_cast<DWORD>(got);
    }
    if (count_read != nullptr)
        *count_read = total;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
    FileRecord *record = file_record(file);
    if (record == nullptr) {
        last_error = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    int64_t offset = distance;
    if (distance_high != nullptr)
        offset = static_cast<int64_t>(
            (static_cast<uint64_t>(static_cast<uint32_t>(*distance_high)) << 32) |
            static_cast<uint32_t>(distance));
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    if (method > FILE_END) {
        last_error = ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    off_t base = whence == SEEK_SET ? 0 : lseek(record->fd, 0, whence);
    if (base + offset < 0) {
        last_error = ERROR_NEGATIVE_SEEK;
        return INVALID_SET_FILE_POINTER;
    }
    off_t now = lseek(record->fd, base + offset, SEEK_SET);
    if (now < 0) {
        last_error = ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    if (distance_high != nullptr)
        *distance_high = static_cast<LONG>(static_cast<uint64_t>(now) >> 32);
    last_error = ERROR_SUCCESS;
    return static_cast<DWORD>(now);
}

DWORD GetFileSize(HANDLE file, LPDWORD size_high) {
    FileRecord *record = file_record(file);
    struct stat info;
    if (record == nullptr || fstat(record->fd, &info) != 0) {
        last_error = ERROR_INVALID_HANDLE;
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size_high != nullptr)
        *size_high = static_cast<DWORD>(size >> 32);
    last_error = ERROR_SUCCESS;
    return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE object) {
    FileRecord *record = file_record(object);
    if (record == nullptr) {
        last_error = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    close(record->fd);
    live_files().erase(record);
    record->magic = 0;
    free(record);
    return TRUE;
}

namespace {

// The running program's path in the system's bytes, or false.
bool module_file_name(std::string *path) {
    if (module_path != nullptr) {
        *path = module_path;
        return true;
    }
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length < 0)
        return false;
    path->assign(buffer, static_cast<size_t>(length));
    return true;
}

// As on Windows: a path that does not fit is cut to size - 1 units plus the
// terminator, and the result is size with ERROR_INSUFFICIENT_BUFFER.
template <typename Unit>
DWORD copy_module_name(const Unit *path, size_t length, Unit *buffer, DWORD size) {
    if (length >= size) {
        memcpy(buffer, path, (size - 1) * sizeof(Unit));
        buffer[size - 1] = 0;
        last_error = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    memcpy(buffer, path, length * sizeof(Unit));
    buffer[length] = 0;
    last_error = ERROR_SUCCESS;
    return static_cast<DWORD>(length);
}

} // namespace

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    (void)module;
    if (buffer == nullptr || size == 0) {
        last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string path;
    if (!module_file_name(&path)) {
        last_error = ERROR_FILE_NOT_FOUND;
        buffer[0] = 0;
        return 0;
    }
    return copy_module_name(path.data(), path.size(), buffer, size);
}

// The path as UTF-16; bytes of it that are not UTF-8 come as the lone
// surrogates that CreateFileW and _wfopen turn back into them.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    (void)module;
    if (buffer == nullptr || size == 0) {
        last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string path;
    if (!module_file_name(&path)) {
        last_error = ERROR_FILE_NOT_FOUND;
        buffer[0] = 0;
        return 0;
    }
    std::u16string wide = platform_wide_from_utf8(path.c_str(), 1);
    return copy_module_name(wide.data(), wide.size(), buffer, size);
}

void Sleep(DWORD milliseconds) {
    backend_sleep(milliseconds);
}
