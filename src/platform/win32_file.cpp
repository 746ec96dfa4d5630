// Chart files on the Win32 API. An exclusive opener shares the file with
// nobody (share mode 0); shared openers share it for reading.
#include <windows.h>

#include "platform/platform.h"

namespace bsb {

const bool kPortPathsAreUtf16 = true;

static HANDLE HandleOf(intptr_t handle) { return (HANDLE)handle; }

static PortOpenFailure FailureOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return kPortNoSuchFile;
    case ERROR_ACCESS_DENIED:
        return kPortNoPermission;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return kPortInUse;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
        return kPortBadPath;
    default:
        return kPortOpenRefused;
    }
}

bool OpenPortFile(const void* path, PortShare share, PortFile* file, PortOpenFailure* failure,
                  int32_t* systemError) {
    DWORD shareMode = share == kPortShared ? FILE_SHARE_READ : 0;
    HANDLE handle = CreateFileW((LPCWSTR)path, GENERIC_READ, shareMode, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_READONLY, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        *failure = FailureOf(error);
        *systemError = (int32_t)error;
        // The system refuses to open a directory as a file with "access denied".
        DWORD attributes = GetFileAttributesW((LPCWSTR)path);
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY))
            *failure = kPortNotRegular;
        return false;
    }
    LARGE_INTEGER size;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        *failure = kPortNotRegular;
        *systemError = 0;
        return false;
    }
    file->handle = (intptr_t)handle;
    file->size = (int64_t)size.QuadPart;
    return true;
}

// Each read names its offset, so that reads from several threads do not
// move a shared file pointer under each other.
bool ReadPortFile(intptr_t handle, int64_t offset, void* destination, uint32_t count,
                  uint32_t* delivered) {
    uint32_t done = 0;
    while (done < count) {
        OVERLAPPED at = {};
        uint64_t position = (uint64_t)offset + done;
        at.Offset = (DWORD)position;
        at.OffsetHigh = (DWORD)(position >> 32);
        DWORD got = 0;
        if (!ReadFile(HandleOf(handle), (char*)destination + done, count - done, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    *delivered = done;
    return true;
}

void ClosePortFile(intptr_t handle) {
    CloseHandle(HandleOf(handle));
}

}  // namespace bsb
